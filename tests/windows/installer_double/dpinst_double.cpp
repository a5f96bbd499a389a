// A test double of the driver package installer, "DPINST.exe", for the Windows end-to-end tests
// under Wine (the real installer is what users bring). It takes the installer's command line
// ("[/s] /path <folder>"), writes one line per INF file below <folder> into DPINST.LOG in the
// Windows folder, as the real installer keeps its log there, and ends with 0. A missing or
// unreadable folder is reported in the log and ends with 1, so a wrong path fails the test.
#include <windows.h>

#include <string>
#include <vector>

namespace {

void FindInfs(const std::string& folder, const std::string& relative, std::vector<std::string>& found) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    const std::string path = relative.empty() ? name : relative + "\\" + name;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) FindInfs(folder + "\\" + name, path, found);
    } else if (name.size() > 4 && lstrcmpiA(name.c_str() + name.size() - 4, ".inf") == 0) {
      found.push_back(path);
    }
  } while (FindNextFileA(find, &data));
  FindClose(find);
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder;
  bool silent = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (lstrcmpiA(arg.c_str(), "/s") == 0) silent = true;
    if (lstrcmpiA(arg.c_str(), "/path") == 0 && i + 1 < argc) folder = argv[++i];
  }
  char windows[MAX_PATH] = {};
  if (GetWindowsDirectoryA(windows, MAX_PATH) == 0) return 2;
  std::string log = std::string("INFO: ") + (silent ? "silent" : "interactive") + " run over " + folder + "\r\n";
  int status = 0;
  const DWORD attributes = folder.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    log += "ERROR: no folder " + folder + "\r\n";
    status = 1;
  } else {
    std::vector<std::string> infs;
    FindInfs(folder, "", infs);
    for (const std::string& inf : infs) log += "INFO: driver package " + inf + "\r\n";
    log += "INFO: " + std::to_string(infs.size()) + " driver packages\r\n";
  }
  HANDLE file = CreateFileA((std::string(windows) + "\\DPINST.LOG").c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 2;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, log.data(), static_cast<DWORD>(log.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == log.size() ? status : 2;
}
