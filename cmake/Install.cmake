# Install rules. Included at the end of the top-level CMakeLists.txt, after the targets exist:
#   cmake --install build --prefix /usr/local
# The Debian package (debian/, built by debhelper) installs through these same rules.
include(GNUInstallDirs)

# Reverse-DNS id shared by the desktop entry and the AppStream component.
set(TAVIMO_APP_ID "org.tavimo.Tavimo")

install(TARGETS tavimo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

configure_file(${PROJECT_SOURCE_DIR}/packaging/tavimo.desktop.in
               ${PROJECT_BINARY_DIR}/packaging/${TAVIMO_APP_ID}.desktop COPYONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/${TAVIMO_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

configure_file(${PROJECT_SOURCE_DIR}/packaging/tavimo.metainfo.xml.in
               ${PROJECT_BINARY_DIR}/packaging/${TAVIMO_APP_ID}.metainfo.xml @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/${TAVIMO_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The PNGs are written by scripts/make-icons.py and kept in the tree.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/packaging/icons/hicolor
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)

# Manual pages and the changelog go compressed, as Debian has them: -9 for the least size, -n so
# that neither the name nor the time stamp enters the file and every build gives the same bytes.
find_program(TAVIMO_GZIP gzip REQUIRED)
set(compressed_files)
function(tavimo_compress source output)
  get_filename_component(directory ${output} DIRECTORY)
  string(REGEX REPLACE "\\.gz$" "" uncompressed ${output})
  add_custom_command(OUTPUT ${output}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${directory}
                     COMMAND ${CMAKE_COMMAND} -E copy ${source} ${uncompressed}
                     COMMAND ${TAVIMO_GZIP} -9nf ${uncompressed}
                     DEPENDS ${source} VERBATIM)
  set(compressed_files ${compressed_files} ${output} PARENT_SCOPE)
endfunction()

# tavimo(1) in English, and in Japanese under the ja locale.
set(man_out ${PROJECT_BINARY_DIR}/packaging/man)
tavimo_compress(${PROJECT_SOURCE_DIR}/packaging/man/tavimo.1 ${man_out}/man1/tavimo.1.gz)
tavimo_compress(${PROJECT_SOURCE_DIR}/packaging/man/ja/tavimo.1 ${man_out}/ja/man1/tavimo.1.gz)
install(FILES ${man_out}/man1/tavimo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${man_out}/ja/man1/tavimo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/ja/man1)

# The Debian package's own changelog (its newest entry gives the project its version) and
# copyright file (in Debian's machine-readable format, with the licence's full text).
tavimo_compress(${PROJECT_SOURCE_DIR}/debian/changelog ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.gz ${PROJECT_SOURCE_DIR}/debian/copyright
              ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
add_custom_target(compressed_docs ALL DEPENDS ${compressed_files})
