# What a Debian system expects of an installed program beside the programs themselves (menu entry,
# icons, software-centre metadata, manual pages, shell completion, copyright and changelog), and the
# Debian package made of it all by CPack: `cpack -G DEB` in the build folder, or scripts/package.
include(GNUInstallDirs)

set(STRUDEX_PACKAGING_DIR ${CMAKE_BINARY_DIR}/packaging)
find_program(GZIP_PROGRAM gzip REQUIRED)

# Debian keeps manual pages and changelogs compressed, without a time stamp, so that the same
# sources make the same package.
function(strudex_gzip input output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${GZIP_PROGRAM} -9nc ${input} > ${output}
    DEPENDS ${input}
    COMMENT "Compressing ${output}" VERBATIM)
endfunction()

configure_file(${PROJECT_SOURCE_DIR}/resources/packaging/changelog.in ${STRUDEX_PACKAGING_DIR}/changelog @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/resources/packaging/org.strudex.Strudex.metainfo.xml
               ${STRUDEX_PACKAGING_DIR}/org.strudex.Strudex.metainfo.xml @ONLY)
strudex_gzip(${STRUDEX_PACKAGING_DIR}/changelog ${STRUDEX_PACKAGING_DIR}/changelog.gz)
set(STRUDEX_COMPRESSED ${STRUDEX_PACKAGING_DIR}/changelog.gz)
foreach(page strudex strudex-export)
  strudex_gzip(${PROJECT_SOURCE_DIR}/docs/man/${page}.1 ${STRUDEX_PACKAGING_DIR}/${page}.1.gz)
  list(APPEND STRUDEX_COMPRESSED ${STRUDEX_PACKAGING_DIR}/${page}.1.gz)
  install(FILES ${STRUDEX_PACKAGING_DIR}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_target(strudex_compressed_docs ALL DEPENDS ${STRUDEX_COMPRESSED})

install(FILES ${PROJECT_SOURCE_DIR}/resources/strudex.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 16 22 24 32 48 64 128 256 512)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/strudex-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME strudex.png)
endforeach()
install(FILES ${STRUDEX_PACKAGING_DIR}/org.strudex.Strudex.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/resources/completion/strudex-export.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME strudex-export)
install(FILES ${PROJECT_SOURCE_DIR}/resources/packaging/copyright ${STRUDEX_PACKAGING_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/strudex)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME strudex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Strudex developers")
set(CPACK_PACKAGE_CONTACT "The Strudex developers <support@strudex.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://strudex.org/)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The libraries the programs are linked with are found by dpkg-shlibdeps. What it cannot see: Qt's
# platform plugins, loaded at run time, libsecret, which QtKeychain loads at run time to reach the
# keyring (without it the password silently stays in the settings file), and a font with Arial's
# metrics, which the windows' fixed sizes are laid out for (without one, captions are cut off).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libsecret-1-0, fonts-liberation2 | fonts-liberation | fonts-croscore")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "bash-completion")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "document the structure of Microsoft Access databases")
# The first line of the description is the summary above; this is the rest.
set(CPACK_PACKAGE_DESCRIPTION "Strudex reads Access databases (.mdb and .accdb files, password-protected
and encrypted ones included) and writes a plain-text report of the tables
you tick: each table's name, field count and record count, and per field
its name, data type (with the size of text fields) and description. It
reads databases and never changes them.
.
The package holds the desktop program, strudex, and the command-line
exporter, strudex-export, which also documents keys, indexes,
relationships, queries and properties as HTML with a diagram, Markdown
and JSON, and compares the structure of two databases.")

include(CPack)
