# What `cmake --install` puts where, and so what the packages hold
# (cmake/package.cmake). Included at the end of the top-level CMakeLists.txt.
#
# Linux, under the prefix:
#   bin/flashdrop
#   lib/udev/rules.d/60-flashdrop.rules   udev reads <prefix>/lib/udev/rules.d
#                                         for the /usr and /usr/local prefixes
#   share/man/man1/flashdrop.1.gz
#   share/doc/flashdrop/README.md, copyright, changelog.gz (Debian's format)
# Windows: flashdrop.exe and README.txt side by side, the zip's whole content.

include(GNUInstallDirs)

if(WIN32)
  install(TARGETS flashdrop RUNTIME DESTINATION .)
  # The readme for Windows users: CRLF line ends, so that Notepad of any age
  # shows its lines.
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/README.txt
    ${PROJECT_BINARY_DIR}/packaging/README.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/README.txt DESTINATION .)
  return()
endif()

# "lib", not CMAKE_INSTALL_LIBDIR: udev does not look in the multiarch folder.
set(FLASHDROP_INSTALL_UDEVRULESDIR "lib/udev/rules.d" CACHE STRING
  "Where the udev rule goes, relative to the installation prefix (or absolute)")

set(FLASHDROP_MAINTAINER "flashdrop developers <flashdrop@example.org>" CACHE STRING
  "Maintainer named in the Debian package and its changelog")

install(TARGETS flashdrop RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A stripped install (`cmake --install --strip`, CPack) also drops the
# compiler's version notes, as Debian's own packages do.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/flashdrop\")
  endif()
")
install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/60-flashdrop.rules
  DESTINATION ${FLASHDROP_INSTALL_UDEVRULESDIR})

# The changelog in Debian's format, one entry for this version, dated by
# SOURCE_DATE_EPOCH when set (scripts/package sets the last commit's time)
# so that the same sources give the same package.
string(TIMESTAMP FLASHDROP_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in
  ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/packaging/changelog.gz
  COMMAND gzip -9nf -k ${PROJECT_BINARY_DIR}/packaging/changelog
  DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog
  COMMENT "Compressing the changelog")
add_custom_target(flashdrop_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.gz)

install(FILES
    ${PROJECT_SOURCE_DIR}/README.md
    ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
    ${PROJECT_BINARY_DIR}/packaging/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The manual page names the udev rule's full path, which depends on the prefix
# the tree is installed into: `cmake --install --prefix`, or /usr when CPack
# stages a Debian package. So it is filled in and compressed at install time.
install(CODE "
  set(_flashdrop_man_in \"${PROJECT_SOURCE_DIR}/packaging/linux/flashdrop.1\")
  set(_flashdrop_man_out \"${PROJECT_BINARY_DIR}/packaging/flashdrop.1\")
  set(_flashdrop_udev_dir \"${FLASHDROP_INSTALL_UDEVRULESDIR}\")
  set(_flashdrop_man_dir \"${CMAKE_INSTALL_MANDIR}/man1\")
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
")
install(CODE [[
  if(IS_ABSOLUTE "${_flashdrop_udev_dir}")
    set(FLASHDROP_UDEV_RULES_FULL_DIR "${_flashdrop_udev_dir}")
  else()
    string(REGEX REPLACE "/+$" "" _prefix "${CMAKE_INSTALL_PREFIX}")
    set(FLASHDROP_UDEV_RULES_FULL_DIR "${_prefix}/${_flashdrop_udev_dir}")
  endif()
  configure_file("${_flashdrop_man_in}" "${_flashdrop_man_out}" @ONLY)
  # -n: no name or time stamp in the header, so the same page gives the same
  # bytes (Debian asks for gzip -9n).
  execute_process(COMMAND gzip -9nf "${_flashdrop_man_out}" RESULT_VARIABLE _status)
  if(NOT _status EQUAL 0)
    message(FATAL_ERROR "gzip of the manual page failed: ${_status}")
  endif()
  if(NOT IS_ABSOLUTE "${_flashdrop_man_dir}")
    set(_flashdrop_man_dir "${CMAKE_INSTALL_PREFIX}/${_flashdrop_man_dir}")
  endif()
  file(INSTALL DESTINATION "${_flashdrop_man_dir}" TYPE FILE
    FILES "${_flashdrop_man_out}.gz")
]])
