#pragma once

#include <string>
#include <vector>

#include "dsp/OVPlugIns.h"
#include "settings/FrSettings.h"

// The plug-in host as the settings dialog sees it.
class TPlugInsForSettings : public TSettingsPlugIns {
 public:
  explicit TPlugInsForSettings(TPlugInHost& host) : Host(host) {}

  void ScanPlugins(const std::string& directory) override { Host.ScanPlugins(directory); }
  std::vector<std::string> FoundPlugins() override { return Host.FoundPlugins(); }
  std::vector<TLoaded> LoadedPlugins() override {
    std::vector<TLoaded> loaded;
    for (const auto& entry : Host.LoadedPlugins())
      loaded.push_back({entry->FileName, entry->Active.load()});
    return loaded;
  }
  bool LoadPlugin(const std::string& directory, const std::string& fileName) override {
    return Host.LoadPlugin(directory, fileName);
  }
  void UnloadPlugin(int position) override { Host.UnloadPlugin(position); }
  void ConfigPlugin(int position) override { Host.ConfigPlugin(position); }

 private:
  TPlugInHost& Host;
};
