# A Debian package of what `cmake --install` puts in place (the programs and
# their man pages): `cpack -G DEB` in the build folder writes
# cdmaster_<version>_<arch>.deb. Its dependencies come from dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME cdmaster)
set(CPACK_PACKAGE_VERSION 2.4A)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "CD mastering suite: disc images, raw sectors and CD drives over SCSI generic")
set(CPACK_PACKAGE_DESCRIPTION
    "Command-line programs that build ISO9660 images, turn 2048-byte images into raw 2352-byte sectors, and list the disc in a CD drive through the Linux SCSI generic driver or an emulated SCSI bus.")
set(CPACK_PACKAGE_CONTACT "cdmaster developers <cdmaster@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
include(CPack)
