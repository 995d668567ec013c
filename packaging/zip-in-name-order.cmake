# Run by cpack after it has made the Windows ZIP. cpack adds the files in
# the order the file system lists them, which differs from one file system
# to another; the ZIP is made again with its members in name order, each
# dated SOURCE_DATE_EPOCH (set by cpack-project.cmake), so that two builds
# give the same bytes anywhere.
file(GLOB_RECURSE members LIST_DIRECTORIES false RELATIVE "${CPACK_TEMPORARY_DIRECTORY}"
     "${CPACK_TEMPORARY_DIRECTORY}/*")
list(SORT members)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E tar cf "${package}" --format=zip -- ${members}
                  WORKING_DIRECTORY "${CPACK_TEMPORARY_DIRECTORY}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
