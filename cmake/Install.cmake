# The installed tree: programs in bin/, the wireless camera module in lib/skelvane/, the
# data in share/skelvane/ (Resource/ as in the build folder, so one lookup serves both).
foreach(program Skelvane skelvane-devices skelvane-camsim skelvane-reg skelvane-regsvr skelvane-vcam)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
if(TARGET Skelvane)
  # Commands on Linux are lower case; the program keeps its name.
  install(CODE "file(CREATE_LINK Skelvane \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/skelvane\" SYMBOLIC)")
endif()
if(TARGET Stravo)
  install(TARGETS Stravo LIBRARY DESTINATION ${SKELVANE_INSTALL_MODULEDIR})
endif()
install(DIRECTORY Resource DESTINATION ${SKELVANE_INSTALL_DATADIR})

# The wireless camera as a V4L2 camera: the loopback module's options and its loading at
# boot, and the user service that feeds the device, started in every graphical session.
if(TARGET skelvane-vcam)
  install(FILES packaging/vcam/modprobe-skelvane-vcam.conf
          DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/modprobe.d RENAME skelvane-vcam.conf)
  install(FILES packaging/vcam/modules-load-skelvane-vcam.conf
          DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/modules-load.d RENAME skelvane-vcam.conf)
  set(SKELVANE_VCAM_PATH ${CMAKE_INSTALL_FULL_BINDIR}/skelvane-vcam)
  configure_file(packaging/vcam/skelvane-vcam.service
                 ${PROJECT_BINARY_DIR}/packaging/skelvane-vcam.service @ONLY)
  set(SKELVANE_USER_UNITDIR lib/systemd/user)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/skelvane-vcam.service
          DESTINATION ${SKELVANE_USER_UNITDIR})
  install(CODE "file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${SKELVANE_USER_UNITDIR}/graphical-session.target.wants\")
    file(CREATE_LINK ../skelvane-vcam.service \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${SKELVANE_USER_UNITDIR}/graphical-session.target.wants/skelvane-vcam.service\" SYMBOLIC)")
endif()

# Desktop integration: the menu entry, the software-centre description, the icon theme.
set(SKELVANE_APP_ID example.kestrovan.Skelvane)
install(FILES packaging/${SKELVANE_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/${SKELVANE_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY Resource/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)

# Manual pages made from each program's --help and --version, so they never drift apart.
find_program(HELP2MAN help2man)
if(HELP2MAN)
  set(manpages)
  foreach(entry
      "Skelvane|camera viewer: live picture, photos, time-lapse series and movies"
      "skelvane-devices|list video-input devices, their formats, or grab pictures"
      "skelvane-camsim|simulate the wireless camera on this machine"
      "skelvane-reg|import and read the settings store"
      "skelvane-regsvr|register a camera module"
      "skelvane-vcam|feed a V4L2 loopback device with the wireless camera's pictures")
    string(REPLACE "|" ";" entry "${entry}")
    list(GET entry 0 program)
    list(GET entry 1 summary)
    if(NOT TARGET ${program})
      continue()
    endif()
    set(page ${PROJECT_BINARY_DIR}/man/${program}.1)
    add_custom_command(OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND ${HELP2MAN} --no-info --section=1 --name=${summary} --output=${page}
              $<TARGET_FILE:${program}>
      COMMAND gzip -9nf ${page}
      DEPENDS ${program}
      VERBATIM)
    list(APPEND manpages ${page}.gz)
  endforeach()
  add_custom_target(manpages ALL DEPENDS ${manpages})
  install(FILES ${manpages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  if(TARGET Skelvane)
    # The lower-case command has the program's page.
    install(CODE "file(CREATE_LINK Skelvane.1.gz \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_MANDIR}/man1/skelvane.1.gz\" SYMBOLIC)")
  endif()
else()
  message(STATUS "help2man not found: no manual pages (scripts/deps installs it)")
endif()
