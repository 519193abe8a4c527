# The installed tree: programs in bin/, the wireless camera module in lib/skelvane/, the
# data in share/skelvane/ (Resource/ as in the build folder, so one lookup serves both).
foreach(program Skelvane skelvane-devices skelvane-camsim skelvane-reg skelvane-regsvr)
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
