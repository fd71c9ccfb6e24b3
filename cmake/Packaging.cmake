# What an installation holds, and the packages made from it: a Debian package on Linux, a zip
# on Windows (cpack in the build folder).
install(TARGETS OrvoUpdaterService RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
foreach(_tool orvo-reg orvo-publish)
  if(TARGET ${_tool})
    install(TARGETS ${_tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
# The window modules, in the updater's private library folder (found relative to its executable).
get_property(_modules GLOBAL PROPERTY ORVO_WINDOW_MODULES)
foreach(_module ${_modules})
  install(TARGETS ${_module} LIBRARY DESTINATION ${ORVO_PRIVATE_LIBDIR})
endforeach()
if(EXISTS ${PROJECT_SOURCE_DIR}/skins/default)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/skins/default DESTINATION ${CMAKE_INSTALL_DATADIR}/OrvoUpdaterService/skins)
endif()

set(CPACK_PACKAGE_NAME orvo-updater-service)
set(CPACK_PACKAGE_VENDOR "OrvoUpdaterService developers")
set(CPACK_PACKAGE_CONTACT "OrvoUpdaterService developers <updater@orvo.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "updater for desktop application suites")
set(CPACK_PACKAGE_DESCRIPTION "OrvoUpdaterService finds what changed in an application's
published manifest, downloads and installs it with a progress window or
terminal progress, writes registry values, shortcuts and firewall entries,
and starts the application again. An update that is interrupted, refused
or broken leaves the installed application as it was.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # The catalogs are compiled into the executable.
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME OrvoUpdaterService-${PROJECT_VERSION}-windows)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  # Manual pages, compressed as Debian installs them; one per command that is built.
  set(_man_pages)
  foreach(_cmd OrvoUpdaterService orvo-reg orvo-publish)
    set(_page ${PROJECT_SOURCE_DIR}/man/${_cmd}.1)
    if(TARGET ${_cmd} AND EXISTS ${_page})
      set(_gz ${PROJECT_BINARY_DIR}/man/${_cmd}.1.gz)
      add_custom_command(OUTPUT ${_gz}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
        COMMAND sh -c "gzip -9n -c '${_page}' > '${_gz}'"
        DEPENDS ${_page} VERBATIM)
      list(APPEND _man_pages ${_gz})
    endif()
  endforeach()
  add_custom_target(orvo_man_pages ALL DEPENDS ${_man_pages})
  install(FILES ${_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

  set(_doc ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME})
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright DESTINATION ${_doc})
  set(_changelog ${PROJECT_BINARY_DIR}/debian/changelog.gz)
  add_custom_command(OUTPUT ${_changelog}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/debian
    COMMAND sh -c "gzip -9n -c '${PROJECT_SOURCE_DIR}/cmake/debian/changelog' > '${_changelog}'"
    DEPENDS ${PROJECT_SOURCE_DIR}/cmake/debian/changelog VERBATIM)
  add_custom_target(orvo_changelog ALL DEPENDS ${_changelog})
  install(FILES ${_changelog} DESTINATION ${_doc})

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION admin)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Depends and Suggests come from what the staged binaries link.
  set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/debian/shlibdeps.cmake)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://orvo.invalid/updater")
endif()
include(CPack)
