#include "platform/win32/PlugInLibraries.h"

#include <windows.h>

#include "platform/win32/Handles.h"
#include "util/Helpers.h"

namespace {

void CloseFind(HANDLE h) {
  FindClose(h);
}

// A search from FindFirstFile: FindClose. INVALID_HANDLE_VALUE counts as none.
class TFindHandle : public TUniqueHandle<HANDLE, CloseFind> {
 public:
  explicit TFindHandle(HANDLE handle)
      : TUniqueHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
};

// "C:\x", "\\server\share": the loader may then look for the library's own dependencies
// beside it (the flag is undefined for relative paths).
bool IsAbsolute(const std::string& path) {
  return (path.size() > 2 && path[1] == ':' && path[2] == '\\') ||
         (path.size() > 1 && path[0] == '\\' && path[1] == '\\');
}

}  // namespace

TPlugInLibraries::THandle TWinPlugInLibraries::Load(const std::string& path) {
  // A file that is no library must fail quietly, without the system's error box.
  DWORD previousMode = 0;
  const bool modeSet =
      SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode);
  TModuleHandle library(
      LoadLibraryExA(path.c_str(), nullptr, IsAbsolute(path) ? LOAD_WITH_ALTERED_SEARCH_PATH : 0));
  if (modeSet) SetThreadErrorMode(previousMode, nullptr);
  return library.Release();
}

void* TWinPlugInLibraries::FindFunction(THandle library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void TWinPlugInLibraries::Free(THandle library) {
  FreeLibrary(static_cast<HMODULE>(library));
}

std::vector<TPlugInLibraries::TFoundFile> TWinPlugInLibraries::FindFiles(
    const std::string& directory, const std::string& pattern) {
  std::vector<TFoundFile> files;
  WIN32_FIND_DATAA data;
  TFindHandle find(FindFirstFileA((AddBackslash(directory) + pattern).c_str(), &data));
  if (!find) return files;
  do {
    files.push_back({data.cFileName, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileA(find.Get(), &data));
  return files;
}

bool TWinPlugInLibraries::DirectoryExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool TWinPlugInLibraries::FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

int TWinPlugInLibraries::CompareNames(const std::string& a, const std::string& b) {
  return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) -
         CSTR_EQUAL;
}
