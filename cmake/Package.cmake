# The Debian package (scripts/package): what cmake --install lays out, with dependencies
# found by dpkg-shlibdeps. No maintainer scripts: the icon cache and the menu follow
# through the triggers of the icon theme and desktop-file-utils.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME skelvane)
set(CPACK_PACKAGE_VENDOR "Kestrovan Industries Limited")
set(CPACK_PACKAGE_CONTACT "Kestrovan Industries Limited <skelvane@kestrovan.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "camera viewer for USB and wireless cameras")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Skelvane shows the live picture of a USB camera or of the wireless camera,\n"
    "turns or mirrors it, takes single photos and time-lapse series, records\n"
    "movies with a size limit and browses what was stored. The package holds\n"
    "the program, its wireless camera module and the command-line tools.")
string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.kestrovan.example")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its platform plugins at run time, which dpkg-shlibdeps cannot see.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# Opening a thumbnail or a folder goes through xdg-open.
# skelvane-vcam feeds a v4l2loopback device.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "hicolor-icon-theme, fonts-noto-cjk, xdg-utils, v4l2loopback-dkms")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES TRUE)
# The module options in /etc are the administrator's to change.
file(WRITE ${PROJECT_BINARY_DIR}/packaging/conffiles
     "/etc/modprobe.d/skelvane-vcam.conf\n/etc/modules-load.d/skelvane-vcam.conf\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/packaging/conffiles)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})

# Every Debian package carries its copyright and changelog.
set(SKELVANE_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME})
install(FILES packaging/copyright DESTINATION ${SKELVANE_DOCDIR})
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/changelog.Debian.gz
  COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog.Debian
          > ${PROJECT_BINARY_DIR}/changelog.Debian.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog.Debian)
add_custom_target(changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/changelog.Debian.gz)
install(FILES ${PROJECT_BINARY_DIR}/changelog.Debian.gz DESTINATION ${SKELVANE_DOCDIR})

include(CPack)
