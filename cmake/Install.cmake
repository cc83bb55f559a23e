# What `cmake --install` puts where, under the prefix (/usr/local for a source
# install, /usr for the package): sbin/veskad; lib/veska/API.so, the reference
# mail library; lib/systemd/system/veskad.service; the man pages; the samples
# under share/veska; and, when the desktop program is built, lib/veska/veska,
# its launcher bin/veska, the desktop entry and the icon.
include(GNUInstallDirs)

set(VESKA_LIBEXEC_DIR lib/veska CACHE STRING "Where the reference mail library is installed (prefix-relative)")
set(VESKA_SYSTEMD_DIR lib/systemd/system CACHE STRING "Where the systemd unit is installed (prefix-relative)")
set(VESKA_SHARE_DIR ${CMAKE_INSTALL_DATADIR}/veska)

if(TARGET veskad)
  install(TARGETS veskad RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT veskad)
endif()
if(TARGET veska)
  # The program itself lives beside the mail library; bin/veska is a launcher
  # that runs it with --dir, the user's own program folder.
  install(TARGETS veska RUNTIME DESTINATION ${VESKA_LIBEXEC_DIR} COMPONENT veska)
endif()
if(TARGET veska_api)
  install(TARGETS veska_api LIBRARY DESTINATION ${VESKA_LIBEXEC_DIR} COMPONENT veskad)
endif()

set(_pkg ${CMAKE_CURRENT_SOURCE_DIR}/packaging)
set(_gen ${CMAKE_CURRENT_BINARY_DIR}/packaging)

# The unit and the launcher name the installed programs by their full path.
set(VESKAD_PATH ${CMAKE_INSTALL_FULL_SBINDIR}/veskad)
set(VESKA_PATH ${CMAKE_INSTALL_FULL_BINDIR}/veska)
# Where the system service's certificate and key are looked for (/etc/veska
# for the package).
set(VESKA_CONF_DIR ${CMAKE_INSTALL_FULL_SYSCONFDIR}/veska)
configure_file(${_pkg}/systemd/veskad.service.in ${_gen}/veskad.service @ONLY)
install(FILES ${_gen}/veskad.service DESTINATION ${VESKA_SYSTEMD_DIR} COMPONENT veskad)

# Man pages, compressed as Debian wants them; their examples name the
# installed files by their full path.
set(VESKA_FULL_LIBEXEC_DIR ${CMAKE_INSTALL_PREFIX}/${VESKA_LIBEXEC_DIR})
set(VESKA_FULL_SHARE_DIR ${CMAKE_INSTALL_FULL_DATADIR}/veska)
find_program(VESKA_GZIP gzip)
foreach(_page veskad.8 veska.1)
  string(REGEX REPLACE ".*\\.([0-9])$" "\\1" _section ${_page})
  set(_component veskad)
  if(_page STREQUAL "veska.1")
    if(NOT TARGET veska)
      continue()
    endif()
    set(_component veska)
  endif()
  configure_file(${_pkg}/man/${_page} ${_gen}/${_page} @ONLY)
  if(VESKA_GZIP)
    add_custom_command(OUTPUT ${_gen}/${_page}.gz
      COMMAND ${VESKA_GZIP} -9nc ${_gen}/${_page} > ${_gen}/${_page}.gz
      DEPENDS ${_gen}/${_page} VERBATIM)
    add_custom_target(man_${_page} ALL DEPENDS ${_gen}/${_page}.gz)
    install(FILES ${_gen}/${_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${_section} COMPONENT ${_component})
  else()
    install(FILES ${_gen}/${_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${_section} COMPONENT ${_component})
  endif()
endforeach()

if(TARGET veska)
  set(VESKA_INSTALLED_PROGRAM ${CMAKE_INSTALL_PREFIX}/${VESKA_LIBEXEC_DIR}/veska)
  configure_file(${_pkg}/desktop/veska-launcher.sh.in ${_gen}/veska @ONLY)
  install(PROGRAMS ${_gen}/veska DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT veska)
  configure_file(${_pkg}/desktop/veska.desktop.in ${_gen}/veska.desktop @ONLY)
  install(FILES ${_gen}/veska.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT veska)
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/ui/icons/veska.svg)
    install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/ui/icons/veska.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT veska)
  endif()
endif()

# Samples: settings, LDIF, the reference library's schema and data, HAProxy.
install(FILES
    ${_pkg}/samples/VESKA.INI
    ${CMAKE_CURRENT_SOURCE_DIR}/api/sample.ldif
    ${CMAKE_CURRENT_SOURCE_DIR}/api/schema.sql
    ${CMAKE_CURRENT_SOURCE_DIR}/api/sample.sql
    ${CMAKE_CURRENT_SOURCE_DIR}/api/SCHEMA.md
  DESTINATION ${VESKA_SHARE_DIR} COMPONENT veskad)
foreach(_cfg haproxy.cfg haproxy-tls.cfg)
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/deploy/${_cfg})
    install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/deploy/${_cfg} DESTINATION ${VESKA_SHARE_DIR} COMPONENT veskad)
  endif()
endforeach()
