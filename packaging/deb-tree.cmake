# Run by CPack on the staged tree before it is packed, for what Debian's own
# package tools would do: man pages and the changelog gzipped at the highest
# level without the file's name or time stamp (gzip -9n, so that two builds
# give the same bytes), and the programs rid of the compiler's .comment
# section that CPack's strip leaves.
set(tree "${CPACK_TEMPORARY_DIRECTORY}")
file(GLOB_RECURSE docs LIST_DIRECTORIES false
     "${tree}/usr/share/man/*" "${tree}/usr/share/doc/*/changelog")
foreach(path IN LISTS docs)
  if(NOT path MATCHES "\\.gz$")
    execute_process(COMMAND gzip -9nf "${path}" RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "gzip -9n ${path}: ${result}")
    endif()
  endif()
endforeach()
file(GLOB programs LIST_DIRECTORIES false "${tree}/usr/bin/*")
foreach(path IN LISTS programs)
  execute_process(COMMAND "${CPACK_HARNWICK_STRIP}" --remove-section=.comment
                          --remove-section=.note "${path}" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "strip ${path}: ${result}")
  endif()
endforeach()
