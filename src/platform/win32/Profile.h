#pragma once

#include <string>

#include "settings/FSettings.h"

// The INI file through the system's profile functions.
class TWinProfile : public TProfile {
 public:
  explicit TWinProfile(std::string fileName) : FileName(std::move(fileName)) {}

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) override;
  bool WriteString(const std::string& section, const std::string& key,
                   const std::string& value) override;
  bool EraseSection(const std::string& section) override;

  const std::string& Path() const { return FileName; }

 private:
  std::string FileName;
};
