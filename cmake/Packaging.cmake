# Desktop integration and the Debian package: the programs install from their own folders; this
# adds the desktop entry and the icon, the manual pages, the copyright file and the changelog,
# then describes the .deb that `cpack -G DEB` builds.
include(GNUInstallDirs)

# Every program answers --version with the package's version.
foreach(program velqa-config velqa-sim velqa-cli)
    target_compile_definitions(${program} PRIVATE VELQA_VERSION="${PROJECT_VERSION}")
endforeach()

# The command-line companion's folder builds it; it ships with the other two.
install(TARGETS velqa-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/velqa-config.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/app/icons/plate.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME velqa-config.svg)

# A reserved .example domain names no one; a release sets the team's real address here.
set(VELQA_PACKAGE_CONTACT "VELQA Module Config team <team@velqa-config.example>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_PACKAGE_NAME "velqa-module-config")
set(CPACK_PACKAGE_VENDOR "VELQA Module Config team")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configuration and test tool for networked VELQA modules")
# Debian shows the long description as it stands, so its lines are kept short here.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "A desktop tool with which a technician configures and tests a VELQA module\n"
    "over TCP port 5003: it reads the serial number, firmware version and eight\n"
    "data slots, writes and clears the slots, tests the card reader and the loop,\n"
    "and shows the module's own web page. Its texts are in English, Simplified\n"
    "Chinese and Traditional Chinese.\n"
    "The package also holds velqa-cli, which runs the same operations from the\n"
    "command line on many modules at once, and velqa-sim, a simulated module on\n"
    "loopback addresses for trying both without hardware.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY ${CPACK_PACKAGE_NAME})
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "TGZ")
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "\\\\.user$")

set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VELQA_PACKAGE_CONTACT})
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)

# Debian keeps manual pages and the changelog compressed with gzip -9n (no name or time stamp,
# so the package builds the same twice); the copyright file stays plain.
find_program(VELQA_GZIP gzip REQUIRED)
set(VELQA_PACKAGE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME})
set(VELQA_PACKAGING_OUT ${CMAKE_BINARY_DIR}/packaging)
set(VELQA_MAINTAINER ${VELQA_PACKAGE_CONTACT})
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${VELQA_PACKAGING_OUT}/changelog.Debian
               @ONLY)
set(VELQA_COMPRESSED)
foreach(source docs/man/velqa-config.1 docs/man/velqa-sim.1 docs/man/velqa-cli.1
        ${VELQA_PACKAGING_OUT}/changelog.Debian)
    get_filename_component(name ${source} NAME)
    get_filename_component(source ${source} ABSOLUTE BASE_DIR ${PROJECT_SOURCE_DIR})
    set(plain ${VELQA_PACKAGING_OUT}/gz/${name})
    add_custom_command(OUTPUT ${plain}.gz
        COMMAND ${CMAKE_COMMAND} -E copy ${source} ${plain}
        COMMAND ${VELQA_GZIP} -9nf ${plain}
        DEPENDS ${source}
        COMMENT "Compressing ${name}"
        VERBATIM)
    list(APPEND VELQA_COMPRESSED ${plain}.gz)
endforeach()
add_custom_target(velqa_package_docs ALL DEPENDS ${VELQA_COMPRESSED})
install(FILES ${VELQA_PACKAGING_OUT}/gz/velqa-config.1.gz ${VELQA_PACKAGING_OUT}/gz/velqa-sim.1.gz
              ${VELQA_PACKAGING_OUT}/gz/velqa-cli.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${VELQA_PACKAGING_OUT}/gz/changelog.Debian.gz ${PROJECT_SOURCE_DIR}/packaging/copyright
        DESTINATION ${VELQA_PACKAGE_DOC_DIR})

# The linker sees only the Qt libraries and libpq (the PostgreSQL journal); the platform and SVG
# icon plugins, the SQLite driver of the journal, the web engine's helper process and the fonts
# the window asks for by name are loaded at run time, so they are always declared.
# dpkg-shlibdeps, when present, adds the versioned library dependencies.
set(VELQA_RUNTIME_DEPENDS
    libqt6webenginecore6-bin libqt6svg6 qt6-qpa-plugins libqt6sql6-sqlite
    fonts-liberation fonts-wqy-zenhei)
set(VELQA_LIBRARY_DEPENDS
    libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libqt6webenginewidgets6
    libqt6multimedia6 libqt6core5compat6 libqt6sql6 libpq5)
find_program(VELQA_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(VELQA_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
    list(APPEND VELQA_RUNTIME_DEPENDS ${VELQA_LIBRARY_DEPENDS})
    list(REMOVE_DUPLICATES VELQA_RUNTIME_DEPENDS)
endif()
list(JOIN VELQA_RUNTIME_DEPENDS ", " CPACK_DEBIAN_PACKAGE_DEPENDS)

# The menu and icon caches are refreshed by the triggers of desktop-file-utils and the icon
# theme packages, so the package carries no maintainer scripts of its own.
include(CPack)
