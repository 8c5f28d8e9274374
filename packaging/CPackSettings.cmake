# CPack settings for the Debian package; included by cmake/Install.cmake just before CPack.
set(TAVIMO_PACKAGE_MAINTAINER "The Tavimo developers <tavimo@users.noreply.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR "DEB")
set(CPACK_VERBATIM_VARIABLES ON) # quotes and semicolons in values reach the package intact
set(CPACK_PACKAGE_NAME "tavimo")
set(CPACK_PACKAGE_VENDOR "The Tavimo developers")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "read pixel coordinates off a picture")
# Read here rather than named by CPACK_PACKAGE_DESCRIPTION_FILE, which CPack XML-escapes.
file(READ "${CMAKE_CURRENT_LIST_DIR}/description.txt" CPACK_PACKAGE_DESCRIPTION)
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TAVIMO_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION "graphics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# Library dependencies come from dpkg-shlibdeps (dpkg-dev) and are appended to these: the
# ones no linker sees. Qt loads its platform and image format plugins at run time, and the
# window font is IPA P Gothic.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-image-formats-plugins, fonts-ipafont-gothic")
