# The demo driver packs: every folder data/demo/<name> becomes the 7z archive <name>.7z in
# <build>/demo/DP, built with Debian's 7-Zip (7zz), and is installed into the program folder's
# demo/DP. scripts/run.sh shows the program at work on them when the DP folder has no packs.
find_program(VELMORA_7ZZ 7zz)
if(NOT VELMORA_7ZZ)
  message(FATAL_ERROR "7zz not found: the demo packs are built with it (Debian package 7zip, scripts/setup.sh installs it)")
endif()

set(VELMORA_DEMO_SOURCE_DIR ${PROJECT_SOURCE_DIR}/data/demo)
set(VELMORA_DEMO_PACK_DIR ${PROJECT_BINARY_DIR}/demo/DP)
file(MAKE_DIRECTORY ${VELMORA_DEMO_PACK_DIR})

file(GLOB demo_entries LIST_DIRECTORIES true CONFIGURE_DEPENDS ${VELMORA_DEMO_SOURCE_DIR}/*)
list(SORT demo_entries)
set(VELMORA_DEMO_PACKS "")
foreach(source ${demo_entries})
  if(NOT IS_DIRECTORY "${source}")
    continue()
  endif()
  get_filename_component(name "${source}" NAME)
  set(pack "${VELMORA_DEMO_PACK_DIR}/${name}.7z")
  file(GLOB_RECURSE files CONFIGURE_DEPENDS "${source}/*")
  add_custom_command(
    OUTPUT "${pack}"
    COMMAND ${CMAKE_COMMAND} "-DSOURCE=${source}" "-DOUTPUT=${pack}"
            "-DSTAGING=${PROJECT_BINARY_DIR}/demo/staging/${name}" "-DSEVEN_ZIP=${VELMORA_7ZZ}"
            -P ${PROJECT_SOURCE_DIR}/cmake/make_demo_pack.cmake
    DEPENDS ${files} ${PROJECT_SOURCE_DIR}/cmake/make_demo_pack.cmake
    COMMENT "Demo driver pack ${name}.7z"
    VERBATIM)
  list(APPEND VELMORA_DEMO_PACKS "${pack}")
endforeach()

add_custom_target(velmora_demo_packs ALL DEPENDS ${VELMORA_DEMO_PACKS})
install(FILES ${VELMORA_DEMO_PACKS} DESTINATION demo/DP)
