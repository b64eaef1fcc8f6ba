# Install rules and the Debian packages (scripts/package.sh runs CPack on the
# release build):
#   apura-server  the server and apura-call, the systemd service, its
#                 configuration file and system user
#   apura         the desktop host, the screen libraries, menu entry and icon
# The framework library is private to each package (a copy in
# /usr/lib/<arch>/apura-server and in /usr/lib/<arch>/apura), so either
# installs alone.
# Programs find it beside them through a relative run path, so the unpacked
# files run from any folder too.

set(APURA_PACKAGE_DIR ${CMAKE_CURRENT_LIST_DIR})
# The private folders: beside the architecture's libraries, where the dynamic
# linker's cache has no business.
set(APURA_PRIVATE_LIB lib/${CMAKE_LIBRARY_ARCHITECTURE})
# The packages hold a few targets; installing them need not build the rest.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

# Man pages and changelogs travel compressed, as Debian wants them.
set(APURA_PACKAGE_GZ ${CMAKE_BINARY_DIR}/package-files)
file(MAKE_DIRECTORY ${APURA_PACKAGE_GZ})
foreach(file apura-server.1 apura-call.1 apura.1 changelog)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${APURA_PACKAGE_DIR}/${file})
  execute_process(COMMAND gzip -9nc ${APURA_PACKAGE_DIR}/${file}
                  OUTPUT_FILE ${APURA_PACKAGE_GZ}/${file}.gz COMMAND_ERROR_IS_FATAL ANY)
endforeach()

if(TARGET apura-server AND TARGET apura-call)
  set_target_properties(apura-server apura-call PROPERTIES INSTALL_RPATH "$ORIGIN/../${APURA_PRIVATE_LIB}/apura-server")
  install(TARGETS apura-server apura-call RUNTIME DESTINATION bin COMPONENT server)
  install(TARGETS apura_framework LIBRARY DESTINATION ${APURA_PRIVATE_LIB}/apura-server COMPONENT server)
  install(FILES ${APURA_PACKAGE_DIR}/apura-server.conf DESTINATION /etc/apura COMPONENT server)
  install(FILES ${APURA_PACKAGE_DIR}/apura-server.service DESTINATION /lib/systemd/system
          COMPONENT server)
  install(FILES ${APURA_PACKAGE_GZ}/apura-server.1.gz ${APURA_PACKAGE_GZ}/apura-call.1.gz
          DESTINATION share/man/man1 COMPONENT server)
  install(FILES ${APURA_PACKAGE_DIR}/copyright DESTINATION share/doc/apura-server COMPONENT server)
  install(FILES ${APURA_PACKAGE_GZ}/changelog.gz DESTINATION share/doc/apura-server
          RENAME changelog.Debian.gz COMPONENT server)
endif()

if(TARGET apura)
  # The host looks for its screens beside its own executable, so it lives in
  # the private folder and /usr/bin holds a link to it.
  set(APURA_HOST_LIBS PRQ05001 PRQ05100 PRQ01802 PRQ01803)
  set_target_properties(apura ${APURA_HOST_LIBS} PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS apura RUNTIME DESTINATION ${APURA_PRIVATE_LIB}/apura COMPONENT desktop)
  install(TARGETS apura_framework ${APURA_HOST_LIBS} LIBRARY DESTINATION ${APURA_PRIVATE_LIB}/apura
          COMPONENT desktop)
  file(CREATE_LINK ../${APURA_PRIVATE_LIB}/apura/apura ${APURA_PACKAGE_GZ}/apura SYMBOLIC)
  install(FILES ${APURA_PACKAGE_GZ}/apura DESTINATION bin COMPONENT desktop)
  install(FILES ${APURA_PACKAGE_DIR}/apura.desktop DESTINATION share/applications
          COMPONENT desktop)
  install(FILES ${APURA_PACKAGE_DIR}/apura.svg DESTINATION share/icons/hicolor/scalable/apps
          COMPONENT desktop)
  install(FILES ${APURA_PACKAGE_GZ}/apura.1.gz DESTINATION share/man/man1 COMPONENT desktop)
  # The buyer's guide, where the host looks for it relative to itself.
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/src/desktop/help/ DESTINATION share/apura/help
          COMPONENT desktop FILES_MATCHING PATTERN "*.html" PATTERN "*.css")
  install(FILES ${APURA_PACKAGE_DIR}/copyright DESTINATION share/doc/apura COMPONENT desktop)
  install(FILES ${APURA_PACKAGE_GZ}/changelog.gz DESTINATION share/doc/apura
          RENAME changelog.Debian.gz COMPONENT desktop)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME apura)
set(CPACK_PACKAGE_VENDOR "Apura developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Apura developers <dev@apura.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL server desktop)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    ${CMAKE_BINARY_DIR}/bin)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://apura.example")

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME apura-server)
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION net)
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "adduser, init-system-helpers (>= 1.54~)")
set(CPACK_COMPONENT_SERVER_DESCRIPTION
    "application server of the Apura tally worksheet
apura-server keeps the purchasing tallies in SQLite or PostgreSQL and serves
them over gRPC to the Apura desktop host; several servers may share one
PostgreSQL database behind a load balancer. apura-call calls one method from
the command line. The package runs the server as a sandboxed systemd service
under its own system user, configured in /etc/apura/apura-server.conf.")
file(WRITE ${APURA_PACKAGE_GZ}/conffiles "/etc/apura/apura-server.conf\n")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${APURA_PACKAGE_GZ}/conffiles ${APURA_PACKAGE_GZ}/postinst ${APURA_PACKAGE_GZ}/prerm
    ${APURA_PACKAGE_GZ}/postrm)
# The maintainer scripts under the names dpkg looks for.
foreach(script postinst prerm postrm)
  configure_file(${APURA_PACKAGE_DIR}/server-${script} ${APURA_PACKAGE_GZ}/${script} COPYONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
endforeach()

set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME apura)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_DEPENDS "hicolor-icon-theme")
set(CPACK_COMPONENT_DESKTOP_DESCRIPTION
    "desktop host and tally worksheet of Apura
The Apura desktop host opens the negotiation tally worksheet and the screens
it leads to (AF analysis, negotiation, spreadsheet information, the tally
report) against an Apura application server, or against several that it
balances by itself.")

include(CPack)
