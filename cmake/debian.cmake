# The Debian package (make deb): what cmake --install puts under /usr. Its
# dependencies are read from the executables by dpkg-shlibdeps, so they
# follow whatever the build links, at the versions this machine has.
set(ORTEL_PACKAGE_MAINTAINER "ortel-helper maintainers <ortel-helper@localhost>"
    CACHE STRING "The Maintainer field of the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ortel-helper)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${ORTEL_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "background helper of a dictation application: modifier holds and text focus")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "A dictation application starts /usr/libexec/ortel-helper/ortel-helper\n\
as a child process and talks to it in lines: it reports a hold of one modifier key alone, in every\n\
application, and answers whether the keyboard focus is in an element that takes typed text (AT-SPI).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
