# Run by CPack on the staged files of every package before it packs them
# (CPACK_PRE_BUILD_SCRIPTS): removes from each program the .comment section
# that stripping leaves (the compilers' names and versions), and leaves the
# Debian lintian overrides out of any other package.
find_program(objcopy NAMES objcopy REQUIRED)
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(file IN LISTS staged)
  if(IS_SYMLINK "${file}")
    continue()
  endif()
  file(READ "${file}" magic LIMIT 4 HEX)
  if(magic STREQUAL "7f454c46")  # ELF
    execute_process(COMMAND ${objcopy} --remove-section=.comment "${file}" COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  file(GLOB_RECURSE dirs LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
  foreach(dir IN LISTS dirs)
    if(IS_DIRECTORY "${dir}" AND dir MATCHES "/share/lintian$")
      file(REMOVE_RECURSE "${dir}")
    endif()
  endforeach()
endif()
