# Binary packages: `cpack -G DEB` in the build directory makes a Debian
# package of the tool and its manual page, installed under /usr.

set(D88UNPACK_MAINTAINER "d88unpack developers <d88unpack@localhost>"
    CACHE STRING "Maintainer named in the packages")

set(CPACK_PACKAGE_NAME d88unpack)
set(CPACK_PACKAGE_VENDOR "d88unpack developers")
set(CPACK_PACKAGE_CONTACT "${D88UNPACK_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "unpack the files of the title's floppy disks from D88 images")
set(CPACK_PACKAGE_DESCRIPTION
    "d88unpack reads D88 disk image files, which may hold several disk images back\n"
    "to back, and writes out every file of the title's 2D (PC-88, X1) and 2HD\n"
    "(PC-98) disks, byte for byte, in one numbered directory per image. It lists\n"
    "each disk's files, can check a dump without writing anything, keeps going on\n"
    "damaged images and never writes outside its output directory.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # d88unpack_VERSION_ARCH.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${D88UNPACK_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The dependencies are read off the binary when the tools for it are there
# (dpkg-shlibdeps from dpkg-dev, and file); otherwise they are named here.
find_program(D88UNPACK_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(D88UNPACK_FILE file)
if(D88UNPACK_DPKG_SHLIBDEPS AND D88UNPACK_FILE)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
endif()

# Debian ships manual pages compressed; the plain page of `cmake --install`
# is compressed in the package's staging tree.
find_program(D88UNPACK_GZIP gzip)
if(D88UNPACK_GZIP)
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/CompressManPages.cmake)
  set(CPACK_D88UNPACK_GZIP ${D88UNPACK_GZIP})
endif()

include(CPack)
