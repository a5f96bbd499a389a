// The configuration object: stands for one INI file and holds only its path. Every read
// passes a fallback text; every write reaches the file at once.
#pragma once

#include <functional>
#include <string>

class ConfigFile {
 public:
  explicit ConfigFile(std::string path = {}) : path_(std::move(path)) {}
  const std::string& path() const { return path_; }
  void Rebind(std::string path) { path_ = std::move(path); }
  bool IsBound() const { return !path_.empty(); }

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& fallback) const;
  // False when the file cannot be written (read-only file or folder); the file is left as it was,
  // and the listener (when set) hears of it with the file and the system's reason.
  bool WriteString(const std::string& section, const std::string& key, const std::string& value) const;
  void OnWriteFailed(std::function<void(const std::string& path, const std::string& reason)> listener) {
    onWriteFailed_ = std::move(listener);
  }

 private:
  std::string path_;
  std::function<void(const std::string&, const std::string&)> onWriteFailed_;
};
