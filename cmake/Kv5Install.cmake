# Where the install rules of each folder put their files: the usual Linux folders, or the top of
# the Windows zip, which runs where it is unpacked.
if(WIN32)
  set(CMAKE_INSTALL_BINDIR .)
  set(CMAKE_INSTALL_DOCDIR .)
endif()
include(GNUInstallDirs)

# The window's name in the desktop's application list: its desktop entry, icon and metainfo.
set(KV5_APP_ID com.telvor.Q9Updater)

# Installs a gzip-compressed copy of `file` (made at build time, without name or time stamp, so
# the package is the same for the same sources) into `destination`.
function(kv5_install_gzipped file destination)
  get_filename_component(name "${file}" NAME)
  set(copy "${CMAKE_CURRENT_BINARY_DIR}/gzipped/${name}")
  add_custom_command(
    OUTPUT "${copy}.gz"
    COMMAND ${CMAKE_COMMAND} -E copy "${file}" "${copy}"
    COMMAND gzip -9nf "${copy}"
    DEPENDS "${file}"
    VERBATIM)
  string(MAKE_C_IDENTIFIER "gzip_${name}" target)
  add_custom_target(${target} ALL DEPENDS "${copy}.gz")
  install(FILES "${copy}.gz" DESTINATION "${destination}")
endfunction()

# Installs a program. Linux packages strip their programs, and with them the compilers' .comment
# section, which a plain strip leaves.
function(kv5_install_program target)
  install(TARGETS ${target})
  if(NOT WIN32)
    install(CODE "
      if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment
          \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:${target}>\")
      endif()")
  endif()
endfunction()

# Installs a manual page of docs/man, e.g. kv5update.1 from kv5update.1.in, into its section, with
# the release's version and date in its header. The pages of a build are in <build>/man.
function(kv5_install_man_page name)
  string(REGEX MATCH "[1-9]$" section "${name}")
  configure_file("${KV5_SOURCE_ROOT}/docs/man/${name}.in" "${CMAKE_BINARY_DIR}/man/${name}" @ONLY)
  kv5_install_gzipped("${CMAKE_BINARY_DIR}/man/${name}" "${CMAKE_INSTALL_MANDIR}/man${section}")
endfunction()
