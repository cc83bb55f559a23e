# Debian packages with CPack: `cpack -G DEB` in the build folder.
#   veskad: the service, the reference mail library, the systemd unit, veskad(8)
#           and the samples;
#   veska:  the desktop program with its launcher, icon and veska(1), when built.
# Library dependencies are found by dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME veska)
set(CPACK_PACKAGE_VENDOR "VESKA developers")
set(CPACK_PACKAGE_CONTACT "VESKA developers <veska@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "read-only LDAP directory of mail-server accounts")
set(CPACK_PACKAGE_DESCRIPTION
"VESKA publishes a mail server's accounts (one entry per mailbox, with cn and
mail), merged with an optional LDIF file, as one flat LDAP directory that mail
programs search as an address book. Binds always succeed; substring searches are
answered; nothing else is, and clients cannot change the directory.")
# The unit and the launcher hold absolute paths made at configure time: a
# package is built from a tree configured with -DCMAKE_INSTALL_PREFIX=/usr.
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL veskad)
if(TARGET veska)
  list(APPEND CPACK_COMPONENTS_ALL veska)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_VESKAD_PACKAGE_NAME veskad)
set(CPACK_DEBIAN_VESKAD_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION_SUMMARY} (service)
 ${CPACK_PACKAGE_DESCRIPTION}
 .
 This package holds veskad, the service without a desktop, its systemd unit
 and the reference mail-server library over SQLite.")
# sqlite3 makes the reference library's sample database; ldapsearch tries it.
set(CPACK_DEBIAN_VESKAD_PACKAGE_RECOMMENDS "sqlite3, ldap-utils")
set(CPACK_DEBIAN_VESKAD_PACKAGE_SUGGESTS "haproxy")
# Starts nothing by itself: the administrator enables the unit once the program
# folder holds its settings and mail library.
set(CPACK_DEBIAN_VESKAD_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/debian/postinst
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/debian/prerm
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_VESKAD_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_VESKA_PACKAGE_NAME veska)
set(CPACK_DEBIAN_VESKA_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION_SUMMARY} (desktop)
 ${CPACK_PACKAGE_DESCRIPTION}
 .
 This package holds veska, the desktop program with its main window, options
 dialog and tray icon.")
# What Qt loads at run time, which dpkg-shlibdeps cannot see: the SVG image and
# icon plug-ins that draw the program's own images, and the platform plug-ins
# (xcb comes with libqt6gui6, which only recommends the others; Wayland's are
# in qt6-wayland, without which Qt uses xcb through XWayland).
set(CPACK_DEBIAN_VESKA_PACKAGE_DEPENDS "veskad (= ${PROJECT_VERSION}), libqt6svg6, qt6-qpa-plugins")
set(CPACK_DEBIAN_VESKA_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_VESKA_PACKAGE_SECTION x11)

include(CPack)
