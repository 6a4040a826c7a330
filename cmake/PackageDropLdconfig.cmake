# Run by cpack once the .deb is made: CPack gives a package with a shared object under /usr/lib a
# postinst and a postrm that only call ldconfig. Kestrune's modules are loaded by path and nothing
# links them, so the package is rebuilt by dpkg-deb without those scripts. Scripts that do anything
# else are left alone.
find_program(KESTRUNE_DPKG_DEB dpkg-deb REQUIRED)
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT deb MATCHES "\\.deb$")
    continue()
  endif()
  set(tree "${CPACK_TOPLEVEL_DIRECTORY}/without-ldconfig")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND "${KESTRUNE_DPKG_DEB}" --raw-extract "${deb}" "${tree}"
                  RESULT_VARIABLE result ERROR_VARIABLE error)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "dpkg-deb could not unpack ${deb}: ${error}")
  endif()
  set(dropped FALSE)
  foreach(script postinst postrm)
    set(path "${tree}/DEBIAN/${script}")
    if(EXISTS "${path}")
      file(READ "${path}" text)
      # CPack's script: the shell line, set -e, and ldconfig when configuring or removing
      string(REGEX REPLACE "#![^\n]*\n|set -e\n|if \\[ \"\\$1\" = \"[a-z]+\" \\]; then\n|[ \t]*ldconfig\n|fi\n|[ \t\n]" ""
             rest "${text}")
      if(rest STREQUAL "")
        file(REMOVE "${path}")
        set(dropped TRUE)
      endif()
    endif()
  endforeach()
  if(dropped)
    execute_process(COMMAND "${KESTRUNE_DPKG_DEB}" --root-owner-group --build "${tree}" "${deb}"
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE error)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "dpkg-deb could not rebuild ${deb}: ${output}${error}")
    endif()
  endif()
  file(REMOVE_RECURSE "${tree}")
endforeach()
