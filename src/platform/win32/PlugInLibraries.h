#pragma once

#include "dsp/OVPlugIns.h"

// Plug-in libraries and the plug-in directory through the system's loader and file search.
class TWinPlugInLibraries : public TPlugInLibraries {
 public:
  THandle Load(const std::string& path) override;
  void* FindFunction(THandle library, const char* name) override;
  void Free(THandle library) override;
  std::vector<TFoundFile> FindFiles(const std::string& directory,
                                    const std::string& pattern) override;
  bool DirectoryExists(const std::string& path) override;
  bool FileExists(const std::string& path) override;
  int CompareNames(const std::string& a, const std::string& b) override;
};
