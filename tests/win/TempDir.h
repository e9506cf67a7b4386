#pragma once

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

// A fresh directory under the temp path, removed with what it holds at the end of a test (files
// made read-only included).
class TTempDir {
 public:
  explicit TTempDir(const std::string& prefix = "kestrune-test-") {
    static int serial = 0;
    char base[MAX_PATH + 1] = {};
    GetTempPathA(sizeof base, base);
    Path = std::string(base) + prefix + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(++serial);
    CreateDirectoryA(Path.c_str(), nullptr);
  }
  ~TTempDir() {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((Path + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::string name = data.cFileName;
        if (name == "." || name == "..") continue;
        const std::string full = File(name);
        SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          RemoveDirectoryA(full.c_str());
        } else {
          DeleteFileA(full.c_str());
        }
      } while (FindNextFileA(find, &data));
      FindClose(find);
    }
    RemoveDirectoryA(Path.c_str());
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  std::string File(const std::string& name) const { return Path + "\\" + name; }

  std::string Path;
};

// A whole file as bytes ("" when it cannot be read).
inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}
