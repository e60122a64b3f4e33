# Debian packages made by CPack from the build ("cpack -G DEB" in the build
# folder, or "ninja package"): vorel-server, the application server with its
# systemd service, and vorel-client, the shell with its libraries, the
# updater and the console. Each keeps its program folder under
# /usr/lib/<package>, as the programs find their libraries and one another
# beside themselves; /usr/bin holds links to the programs people start.
include(GNUInstallDirs)

set(VOREL_SERVER_DIR ${CMAKE_INSTALL_LIBDIR}/vorel-server)
set(VOREL_CLIENT_DIR ${CMAKE_INSTALL_LIBDIR}/vorel-client)

set(VOREL_SHIPPED vorel-server Vorel7 vorel-updater vorel-fileversion vorel-sql vorelcore vorelgui Cambia Comun)
# They all sit in one folder in the build as once installed: $ORIGIN alone
# finds their libraries in both, and nothing of the build's paths ships.
set_target_properties(${VOREL_SHIPPED} PROPERTIES BUILD_WITH_INSTALL_RPATH ON)

install(TARGETS vorel-server vorelcore
  RUNTIME DESTINATION ${VOREL_SERVER_DIR} COMPONENT server
  LIBRARY DESTINATION ${VOREL_SERVER_DIR} COMPONENT server)
install(TARGETS Vorel7 vorel-updater vorel-fileversion vorel-sql vorelcore vorelgui Cambia Comun
  RUNTIME DESTINATION ${VOREL_CLIENT_DIR} COMPONENT client
  LIBRARY DESTINATION ${VOREL_CLIENT_DIR} COMPONENT client)

function(vorel_install_link component target link)
  install(CODE "
    set(dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(MAKE_DIRECTORY \"\${dir}\")
    file(CREATE_LINK \"../${target}\" \"\${dir}/${link}\" SYMBOLIC)" COMPONENT ${component})
endfunction()
vorel_install_link(server ${VOREL_SERVER_DIR}/vorel-server vorel-server)
vorel_install_link(client ${VOREL_CLIENT_DIR}/Vorel7 vorel7)
vorel_install_link(client ${VOREL_CLIENT_DIR}/vorel-sql vorel-sql)
# The shell starts the updater under the name it has always had.
install(CODE "file(CREATE_LINK vorel-updater
  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${VOREL_CLIENT_DIR}/Load.dll\" SYMBOLIC)" COMPONENT client)

install(FILES packaging/vorel-server.service DESTINATION lib/systemd/system COMPONENT server)
install(FILES packaging/vorel-server.conf DESTINATION /etc/vorel COMPONENT server)

# What Debian asks of every package's documentation folder.
set(VOREL_CHANGELOG_GZ ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)
execute_process(COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/packaging/changelog OUTPUT_FILE ${VOREL_CHANGELOG_GZ})
foreach(component server client)
  install(FILES packaging/copyright ${VOREL_CHANGELOG_GZ}
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/vorel-${component} COMPONENT ${component})
endforeach()
install(FILES docs/ADMIN.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/vorel-server COMPONENT server)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Vorel developers <vorel@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL server client)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies by Debian package name, as dpkg-shlibdeps finds them; the
# program folders' own libraries are the packages' own.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${VOREL_BIN_DIR})
set(CPACK_DEBIAN_SERVER_PACKAGE_NAME vorel-server)
set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME vorel-client)
set(CPACK_DEBIAN_CLIENT_PACKAGE_SECTION misc)
set(CPACK_COMPONENT_SERVER_DESCRIPTION "application server of the Vorel business information system
The reference application server of the Vorel business information
system: it serves the clients' sessions over TLS from a SQLite file or a
PostgreSQL database, and runs as the systemd service vorel-server.")
set(CPACK_COMPONENT_CLIENT_DESCRIPTION "desktop client of the Vorel business information system
The desktop client of the Vorel business information system (vorel7):
per role, the business classes a user may open, each in a browser window
configured in the database; with its updater and the console vorel-sql.")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/conffiles)
include(CPack)
