# The driver package installer's test double ("DPINST.exe") for the end-to-end runs under Wine, in a
# folder of its own so that no test of the Windows test program finds it by chance.
add_executable(velmora_dpinst_double ${PROJECT_SOURCE_DIR}/tests/windows/installer_double/dpinst_double.cpp)
set_target_properties(velmora_dpinst_double PROPERTIES OUTPUT_NAME DPINST RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/installer_double)
target_link_libraries(velmora_dpinst_double PRIVATE velmora_options)
target_link_options(velmora_dpinst_double PRIVATE -static -static-libgcc -static-libstdc++)
add_dependencies(velmora_tests_win32 velmora_dpinst_double)
