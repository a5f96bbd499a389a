# The test files that run only in the Linux test program, each with the reason. Every other
# tests/*_test.cpp is portable and runs in both test programs: the Linux one (tests/CMakeLists.txt)
# and the Windows one (tests/windows/CMakeLists.txt), so a new test file runs on both unless it is
# named here. Single cases that need POSIX behaviour skip themselves with their reason instead.
set(VELMORA_LINUX_ONLY_TESTS
  archive_tool_test.cpp     # the Linux 7z stand-in over 7zz
  clean_script_test.cpp     # the shell clean.cmd (its batch form: tests/windows/clean_cmd_test.cpp)
  demo_packs_test.cpp       # packs built with 7zz, read by the Linux installer stand-in
  devcon_test.cpp           # the Linux devcon stand-in over a recorded sysfs tree
  device_enum_test.cpp      # the sysfs enumeration
  device_handlers_sysfs_test.cpp  # the devices of a recorded sysfs tree, shell scripts as the device console
  dpinst_test.cpp           # the Linux installer stand-in
  offline_windows_test.cpp  # the Linux installer stand-in on an offline Windows (libhivex)
  pack_run_handlers_test.cpp  # shell scripts as the archive tool and the installer
  inf_file_test.cpp         # the Linux installer stand-in's INF reader
)
