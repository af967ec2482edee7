# What `cpack` makes from a build: a Debian package on Linux (cpack -G DEB); on Windows a zip that
# runs where it is unpacked (cpack -G ZIP) and an installer (cpack -G NSIS64). The files come from
# the install rules beside each target; this file says how they are packed, and adds the licence
# and the changelog.

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "kv5update maintainers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for the TELVOR Q9 over MIDI")
set(CPACK_PACKAGE_DESCRIPTION "\
The updater rewrites the flash of a TELVOR Q9 over MIDI System Exclusive, or
reads the unit's version stamps and shows them beside the package's. It comes
as a window (kv5updater), as a command-line program (kv5update) and with a
virtual unit to try it on (q9-unit).

The firmware package travels inside the programs; its stamps are
${KV5_PACKAGE_STAMPS}.
${KV5_PACKAGE_NOTE}")
set(CPACK_STRIP_FILES ON)
# Directories as a system package has them, whatever the umask of the build.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
  set(CPACK_GENERATOR ZIP NSIS64)
  set(CPACK_PACKAGE_FILE_NAME "${PROJECT_NAME}-${PROJECT_VERSION}-win64")
  # The installer (cpack -G NSIS64) is the script of app/win32/installer, with the zip's files.
  set(CPACK_MODULE_PATH "${KV5_SOURCE_ROOT}/app/win32/installer")
  set(CPACK_NSIS_MUI_ICON "${KV5_SOURCE_ROOT}/ui/win32/AppIcon.ico")
  # The licence beside the programs, in the line ends Windows editors expect.
  configure_file("${KV5_SOURCE_ROOT}/LICENSE" License.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES "${CMAKE_CURRENT_BINARY_DIR}/License.txt" DESTINATION "${CMAKE_INSTALL_DOCDIR}")
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KV5_PACKAGE_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

  # Every Debian package carries its copyright and its changelog in its documentation folder.
  # The copyright holds the licence of LICENSE in the package's own format: its text indented,
  # its empty lines as " .".
  file(STRINGS "${KV5_SOURCE_ROOT}/LICENSE" licence_lines)
  list(FILTER licence_lines INCLUDE REGEX "^Copyright \\(c\\) ")
  string(REGEX REPLACE "^Copyright \\(c\\) " "" KV5_COPYRIGHT "${licence_lines}")
  file(READ "${KV5_SOURCE_ROOT}/LICENSE" licence)
  string(REGEX REPLACE "^.*\nCopyright \\(c\\) [^\n]*\n\n" "" licence "${licence}")
  string(STRIP "${licence}" licence)
  string(REGEX REPLACE "\n\n" "\n.\n" licence "${licence}")
  string(REPLACE "\n" "\n " KV5_LICENSE_TEXT " ${licence}")
  configure_file("${KV5_SOURCE_ROOT}/app/linux/copyright.in" "${CMAKE_BINARY_DIR}/copyright" @ONLY)
  install(FILES "${CMAKE_BINARY_DIR}/copyright" DESTINATION "${CMAKE_INSTALL_DOCDIR}")
  configure_file("${KV5_CHANGELOG}" "${CMAKE_BINARY_DIR}/changelog" @ONLY)
  kv5_install_gzipped("${CMAKE_BINARY_DIR}/changelog" "${CMAKE_INSTALL_DOCDIR}")
  install(FILES "${KV5_SOURCE_ROOT}/app/linux/lintian-overrides"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/lintian/overrides" RENAME ${PROJECT_NAME})
endif()

# What cpack reads before each package: the date of the files inside, the installer's name.
configure_file("${KV5_SOURCE_ROOT}/cmake/Kv5CPackOptions.cmake.in"
               "${CMAKE_BINARY_DIR}/Kv5CPackOptions.cmake" @ONLY)
set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_BINARY_DIR}/Kv5CPackOptions.cmake")

include(CPack)
