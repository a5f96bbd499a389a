# Cross-compiling for 64-bit Windows with Debian's MinGW-w64: the same code as the 32-bit program,
# tested where the machine cannot execute 32-bit code.
set(VELMORA_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
