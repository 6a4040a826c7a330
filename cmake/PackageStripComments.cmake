# Run by cpack after it installed the package's files into its staging folder: removes the
# compiler's version notes (.comment) from every ELF file there, which `strip` keeps and no loader
# reads. Only that section goes; code and data stay byte for byte as built.
file(GLOB_RECURSE kestrune_staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(file IN LISTS kestrune_staged)
  if(IS_SYMLINK "${file}")
    continue()
  endif()
  file(READ "${file}" magic LIMIT 4 HEX)
  if(magic STREQUAL "7f454c46")
    execute_process(COMMAND "${CPACK_KESTRUNE_OBJCOPY}" --remove-section=.comment "${file}"
                    RESULT_VARIABLE result ERROR_VARIABLE error)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "${CPACK_KESTRUNE_OBJCOPY} could not remove .comment from ${file}: ${error}")
    endif()
  endif()
endforeach()
