# The packages CPack makes of the installed tree (cmake/install.cmake):
#   Linux:   flashdrop_<version>_<arch>.deb   (cpack -G DEB)
#   Windows: flashdrop-<version>-win64.zip    (cpack -G ZIP, from the mingw-w64 build)
# scripts/package builds both. Included at the end of the top-level CMakeLists.txt.

set(CPACK_PACKAGE_NAME flashdrop)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "flashdrop developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "put a firmware image onto a board's UF2 bootloader drive")
# Line by line: the Debian control file keeps the line breaks, and lintian
# wants lines under 80 characters.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "flashdrop copies a firmware image onto a board whose bootloader shows up"
  "as a removable USB drive (a UF2 bootloader drive). It can first ask the"
  "running board to restart into its bootloader, through a HID command report"
  "or a word sent to its serial port, then it finds the removable drive that"
  "holds the bootloader's marker file, copies the file onto it and checks"
  "that the board took it.")
# Binaries stripped of their debug information; the build tree keeps it.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  # The two files at the top of the archive, no folder around them.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR DEB)
  # A Debian package lives under /usr whatever the build tree's own prefix;
  # DESTDIR staging makes the install scripts see that prefix, so the manual
  # page names /usr/lib/udev/rules.d.
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_SET_DESTDIR ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${FLASHDROP_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Depends from the libraries the binary links (dpkg-shlibdeps): hidapi's
  # hidraw backend and the C library, and whatever else it comes to link.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Loaded with dlopen, so invisible to dpkg-shlibdeps: libsystemd's sd-bus,
  # through which the tool asks UDisks2 to mount a drive nobody mounted.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS libsystemd0)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS udisks2)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
