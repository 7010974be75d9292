# Installation and the Debian package (scripts/package.sh builds it with CPack).
#
# Installed with the prefix /usr: the service as /usr/bin/LocalService; the stand-in libraries, which
# carry the closed libraries' names, in the private folder /usr/lib/<triplet>/localservice, found through
# the service's run path and never on the system's library path (so no ldconfig call either); an XDG
# autostart entry and a systemd user unit, so that the service starts with the user's desktop session and
# runs as that user.
include(GNUInstallDirs)

set(LS_PACKAGE_NAME localservice)
set(LS_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/${LS_PACKAGE_NAME})
set(LS_PACKAGE_MAINTAINER "LocalService developers <localservice@example.org>"
    CACHE STRING "Maintainer field of the Debian package")
set(LS_BINARY ${CMAKE_INSTALL_FULL_BINDIR}/LocalService)
set(LS_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${LS_PACKAGE_NAME})
set(LS_PACKAGE_FILES ${CMAKE_CURRENT_BINARY_DIR}/package)

set_target_properties(LocalService PROPERTIES INSTALL_RPATH "\$ORIGIN/../${LS_PRIVATE_LIBDIR}")
install(TARGETS LocalService RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS video_control slf LIBRARY DESTINATION ${LS_PRIVATE_LIBDIR} NAMELINK_SKIP)

# Started with the session: by the systemd user manager where the session reaches
# graphical-session.target, otherwise by the session manager through the autostart entry.
configure_file(cmake/package/localservice.desktop.in ${LS_PACKAGE_FILES}/${LS_PACKAGE_NAME}.desktop @ONLY)
configure_file(cmake/package/localservice.service.in ${LS_PACKAGE_FILES}/${LS_PACKAGE_NAME}.service @ONLY)
install(FILES ${LS_PACKAGE_FILES}/${LS_PACKAGE_NAME}.desktop
        DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/xdg/autostart)
install(FILES ${LS_PACKAGE_FILES}/${LS_PACKAGE_NAME}.service DESTINATION lib/systemd/user)
file(MAKE_DIRECTORY ${LS_PACKAGE_FILES}/wants)
file(CREATE_LINK ../${LS_PACKAGE_NAME}.service ${LS_PACKAGE_FILES}/wants/${LS_PACKAGE_NAME}.service SYMBOLIC)
install(FILES ${LS_PACKAGE_FILES}/wants/${LS_PACKAGE_NAME}.service
        DESTINATION lib/systemd/user/graphical-session.target.wants)

# Copyright, change log and manual page; the log's date honours SOURCE_DATE_EPOCH, so the same sources
# give the same package.
string(TIMESTAMP LS_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(cmake/package/changelog.in ${LS_PACKAGE_FILES}/changelog @ONLY)
configure_file(cmake/package/LocalService.1.in ${LS_PACKAGE_FILES}/LocalService.1 @ONLY)
foreach(name changelog LocalService.1)
  add_custom_command(OUTPUT ${LS_PACKAGE_FILES}/${name}.gz
      COMMAND gzip -9 -n -c ${LS_PACKAGE_FILES}/${name} > ${LS_PACKAGE_FILES}/${name}.gz
      DEPENDS ${LS_PACKAGE_FILES}/${name} VERBATIM)
endforeach()
add_custom_target(ls_package_files
    DEPENDS LocalService ${LS_PACKAGE_FILES}/changelog.gz ${LS_PACKAGE_FILES}/LocalService.1.gz)
install(FILES cmake/package/copyright ${LS_PACKAGE_FILES}/changelog.gz DESTINATION ${LS_DOCDIR})
install(FILES ${LS_PACKAGE_FILES}/LocalService.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The package: dependencies from what the installed files link (dpkg-shlibdeps); the stand-in
# libraries are the package's own. Removal stops every running instance (prerm); the autostart entry
# under /etc is a configuration file, removed on purge, and inert before that (TryExec).
configure_file(cmake/package/prerm.in ${LS_PACKAGE_FILES}/prerm @ONLY)
configure_file(cmake/package/conffiles.in ${LS_PACKAGE_FILES}/conffiles @ONLY)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${LS_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${LS_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "native companion of video web pages")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "LocalService is the native companion of web pages that show video from\n"
    "network cameras and recorders. A page talks to it over WebSocket or HTTP\n"
    "on this machine. It places native video windows over a rectangle of the\n"
    "page, keeps them there while the browser moves, plays the streams into\n"
    "them and sends the video library's events back to the page.\n"
    "It starts with the desktop session and runs as the user.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The X11 backend uses Qt's private interface, which holds only for the exact Qt it was built with.
string(REPLACE "." "-" LS_QT_ABI "qtbase-abi-${Qt5Core_VERSION}")
set(CPACK_DEBIAN_PACKAGE_DEPENDS ${LS_QT_ABI})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_INSTALL_PREFIX}/${LS_PRIVATE_LIBDIR})
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${LS_PACKAGE_FILES}/prerm ${LS_PACKAGE_FILES}/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
