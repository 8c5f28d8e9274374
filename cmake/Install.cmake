# Install rules and the Debian package. Included at the end of the top-level CMakeLists.txt,
# after the targets exist:
#   cmake --install build --prefix /usr/local
#   (cd build && cpack -G DEB)            (scripts/package does this from a Release build)
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

install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

include(${PROJECT_SOURCE_DIR}/packaging/CPackSettings.cmake)
include(CPack)
