# The archive tool's test double, "7z.exe" (see seven_zip_double.cpp), built beside the Windows
# test program, which finds it there as the program finds the real 7z.exe, and its tests.
add_executable(velmora_7z_double ${CMAKE_CURRENT_LIST_DIR}/seven_zip_double.cpp)
set_target_properties(velmora_7z_double PROPERTIES OUTPUT_NAME 7z RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
target_link_libraries(velmora_7z_double PRIVATE velmora_options)
# The item selection rules are shared with the Linux stand-in of the archive tool.
target_include_directories(velmora_7z_double PRIVATE ${PROJECT_SOURCE_DIR}/tools)
target_link_options(velmora_7z_double PRIVATE -static -static-libgcc -static-libstdc++)
add_dependencies(velmora_tests_win32 velmora_7z_double)
target_sources(velmora_tests_win32 PRIVATE ${CMAKE_CURRENT_LIST_DIR}/archiver_double_test.cpp)
