# cpack: a .deb and a .tar.gz of the installed tree. Configure with
# -DCMAKE_INSTALL_PREFIX=/usr for the .deb, so that the library goes to the
# multiarch folder (lib/x86_64-linux-gnu); the archive unpacks anywhere.
set(CPACK_PACKAGE_NAME velta)
set(CPACK_PACKAGE_VENDOR "Velta")
set(CPACK_PACKAGE_CONTACT "Velta developers <velta@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Character-set conversion library (libvelta3230) and the velta command")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR "DEB;TGZ")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The converter libraries in the data directory link the library itself.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})
set(CPACK_STRIP_FILES OFF)
include(CPack)
