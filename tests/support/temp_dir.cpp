#include "support/temp_dir.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::random_device device;
  std::mt19937_64 generator(
      device() ^ static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  const fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::ostringstream name;
    name << "velmora-test-" << std::hex << generator();
    const fs::path candidate = base / name.str();
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      fs::permissions(candidate,
                      fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                          fs::perms::others_read | fs::perms::others_exec,
                      error);
      path_ = candidate.string() + "/";
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder under " + base.string());
}

TempDir::~TempDir() {
  // Tests make files and folders read-only; give the owner write access back first so
  // everything can be removed.
  std::error_code error;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
  for (auto it =
           fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    std::error_code ignored;
    if (it->is_symlink(ignored)) continue;
    fs::permissions(it->path(), it->is_directory(ignored) ? fs::perms::owner_all : fs::perms::owner_write,
                    fs::perm_options::add, ignored);
  }
  fs::remove_all(path_, error);
}

std::string TempDir::File(const std::string& name) const {
  std::string relative = name;
  std::replace(relative.begin(), relative.end(), '\\', '/');
  if (!relative.empty() && relative.front() == '/') return relative;
  // A full Windows path starts with its drive ("C:/...").
  if (relative.size() >= 3 && std::isalpha(static_cast<unsigned char>(relative[0])) && relative[1] == ':' &&
      relative[2] == '/') {
    return relative;
  }
  return path_ + relative;
}

std::string TempDir::Write(const std::string& name, const std::string& content) const {
  const std::string full = File(name);
  const fs::path parent = fs::path(full).parent_path();
  if (!parent.empty()) fs::create_directories(parent);
  std::ofstream out(full, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + full);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + full);
  return full;
}

std::string TempDir::Read(const std::string& name) const {
  const std::string full = File(name);
  std::ifstream in(full, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + full);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string TempDir::MakeDir(const std::string& name) const {
  std::string full = File(name);
  fs::create_directories(full);
  if (full.back() != '/') full += '/';
  return full;
}

bool TempDir::Exists(const std::string& name) const {
  std::error_code error;
  return fs::exists(fs::symlink_status(File(name), error));
}
