// A fresh folder for one test, removed with everything in it when the object goes away.
#pragma once

#include <string>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder, with a trailing '/'. It is readable and searchable by every user, so a test
  // may run part of its work under another account.
  const std::string& path() const { return path_; }

  // The helpers take a name relative to the folder ("sub/a.ini"; backslashes count as
  // separators) or a full path starting with '/'.
  // Full path of a name inside the folder; nothing is created.
  std::string File(const std::string& name) const;
  // Writes `content` byte for byte, creating missing parent folders; returns the full path.
  std::string Write(const std::string& name, const std::string& content) const;
  // The whole content of a file; throws std::runtime_error when it cannot be read.
  std::string Read(const std::string& name) const;
  // Creates a folder and its parents; returns its full path with a trailing '/'.
  std::string MakeDir(const std::string& name) const;
  // True when a file or folder of that name exists.
  bool Exists(const std::string& name) const;

 private:
  std::string path_;
};
