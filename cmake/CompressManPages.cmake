# Run by CPack after staging the files: compresses the manual pages the way
# Debian wants them (gzip -9n: no name or time stamp, so the package is
# reproducible).
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_DIRECTORY}/*/share/man/man*/*.[1-9]")
foreach(page IN LISTS pages)
  execute_process(COMMAND "${CPACK_D88UNPACK_GZIP}" -9nf "${page}" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "gzip ${page} failed: ${result}")
  endif()
endforeach()
