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

# The client as a desktop program: its menu entry, icon, AppStream record
# and manual pages, each made in the build from one source.
set(VOREL_PACKAGING_OUT ${CMAKE_BINARY_DIR}/packaging)
# The release the AppStream record names is the changelog's first entry.
file(STRINGS ${CMAKE_SOURCE_DIR}/packaging/changelog VOREL_RELEASE_LINE REGEX "^ -- " LIMIT_COUNT 1)
string(REGEX MATCH "([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9])" _ "${VOREL_RELEASE_LINE}")
set(VOREL_MONTHS Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND VOREL_MONTHS "${CMAKE_MATCH_2}" VOREL_RELEASE_MONTH)
math(EXPR VOREL_RELEASE_MONTH "${VOREL_RELEASE_MONTH} + 1" OUTPUT_FORMAT DECIMAL)
if(VOREL_RELEASE_MONTH LESS 10)
  set(VOREL_RELEASE_MONTH 0${VOREL_RELEASE_MONTH})
endif()
set(VOREL_RELEASE_DATE ${CMAKE_MATCH_3}-${VOREL_RELEASE_MONTH}-${CMAKE_MATCH_1})
configure_file(packaging/desktop/vorel7.metainfo.xml.in ${VOREL_PACKAGING_OUT}/org.example.vorel7.metainfo.xml @ONLY)
install(FILES packaging/desktop/vorel7.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications COMPONENT client)
install(FILES ${VOREL_PACKAGING_OUT}/org.example.vorel7.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo COMPONENT client)
install(FILES packaging/desktop/vorel7.svg
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps COMPONENT client)

set(VOREL_DESKTOP_OUTPUTS)
find_program(VOREL_RSVG_CONVERT rsvg-convert)
if(VOREL_RSVG_CONVERT)
  foreach(size 16 22 24 32 48 64 128 256)
    set(png ${VOREL_PACKAGING_OUT}/icons/${size}/vorel7.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${VOREL_PACKAGING_OUT}/icons/${size}
      COMMAND ${VOREL_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${CMAKE_SOURCE_DIR}/packaging/desktop/vorel7.svg
      DEPENDS packaging/desktop/vorel7.svg VERBATIM)
    list(APPEND VOREL_DESKTOP_OUTPUTS ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps COMPONENT client)
  endforeach()
else()
  message(WARNING "rsvg-convert (Debian package librsvg2-bin) not found: the client's icon is packaged "
                  "at its scalable size only")
endif()

find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  foreach(page vorel7.1 vorel-sql.1 vorel-server.8)
    string(REGEX MATCH "[0-9]$" section ${page})
    set(out ${VOREL_PACKAGING_OUT}/man/${page})
    add_custom_command(OUTPUT ${out}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${VOREL_PACKAGING_OUT}/man
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/packaging/man/mkman.py
              ${CMAKE_SOURCE_DIR}/packaging/man/${page}.md ${out} ${VOREL_RELEASE_DATE} ${PROJECT_VERSION}
      COMMAND gzip -9nf ${out}
      DEPENDS packaging/man/mkman.py packaging/man/${page}.md VERBATIM)
    list(APPEND VOREL_DESKTOP_OUTPUTS ${out}.gz)
    set(component client)
    if(page STREQUAL "vorel-server.8")
      set(component server)
    endif()
    install(FILES ${out}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
  endforeach()
else()
  message(WARNING "python3 not found: the packages are made without their manual pages")
endif()
add_custom_target(vorel_desktop_files ALL DEPENDS ${VOREL_DESKTOP_OUTPUTS})

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
