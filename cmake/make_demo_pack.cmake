# Builds one demo driver pack: cmake -DSOURCE=<folder> -DOUTPUT=<pack.7z> -DSTAGING=<folder>
#   -DSEVEN_ZIP=<7zz> -P make_demo_pack.cmake
# The pack holds the folder's contents with their paths. The same files always give the same
# archive: they are copied to a staging folder with fixed permissions first, and the archive
# stores no times and is compressed on one thread.
foreach(var SOURCE OUTPUT STAGING SEVEN_ZIP)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "make_demo_pack.cmake: ${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${STAGING}")
file(MAKE_DIRECTORY "${STAGING}")
file(COPY "${SOURCE}/" DESTINATION "${STAGING}"
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
  DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(GLOB entries RELATIVE "${STAGING}" "${STAGING}/*")
list(SORT entries)
if(NOT entries)
  message(FATAL_ERROR "make_demo_pack.cmake: ${SOURCE} is empty")
endif()

set(partial "${OUTPUT}.partial")
file(REMOVE "${partial}")
execute_process(
  COMMAND "${SEVEN_ZIP}" a -t7z -mx=9 -mmt=1 -mtm=off -bd -bso0 -bsp0 -- "${partial}" ${entries}
  WORKING_DIRECTORY "${STAGING}"
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  file(REMOVE "${partial}")
  message(FATAL_ERROR "7zz could not build ${OUTPUT} (exit code ${result}):\n${output}")
endif()
file(RENAME "${partial}" "${OUTPUT}")
file(REMOVE_RECURSE "${STAGING}")
