# The device maker (velmora_device_maker.exe) for the end-to-end runs under Wine, in a folder of
# its own so that no test of the Windows test program finds it by chance.
add_executable(velmora_device_maker ${PROJECT_SOURCE_DIR}/tests/windows/device_maker/velmora_device_maker.cpp)
set_target_properties(velmora_device_maker PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/device_maker)
target_link_libraries(velmora_device_maker PRIVATE velmora_options setupapi shell32)
target_link_options(velmora_device_maker PRIVATE -static -static-libgcc -static-libstdc++)
add_dependencies(velmora_tests_win32 velmora_device_maker)
