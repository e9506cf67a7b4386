#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "settings/FSettings.h"
#include "util/Helpers.h"

// An INI file in memory: sections and keys keep their order, names ignore case, as the
// profile functions do. A write to FailKey fails, like a file that cannot be written.
class TMemoryProfile : public TProfile {
 public:
  using TKeys = std::vector<std::pair<std::string, std::string>>;

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) override {
    const TKeys* keys = Find(section);
    if (keys) {
      for (const auto& [k, v] : *keys) {
        if (!SameText(k, key)) continue;
        // As the profile functions read: one pair of enclosing quotes is dropped.
        if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) {
          return v.substr(1, v.size() - 2);
        }
        return v;
      }
    }
    return defaultValue;
  }
  bool WriteString(const std::string& section, const std::string& key,
                   const std::string& value) override {
    ++Writes;
    if (!FailKey.empty() && SameText(key, FailKey)) return false;
    TKeys& keys = Section(section);
    for (auto& [k, v] : keys) {
      if (SameText(k, key)) {
        v = value;
        return true;
      }
    }
    keys.emplace_back(key, value);
    return true;
  }
  bool EraseSection(const std::string& section) override {
    for (auto it = Sections.begin(); it != Sections.end(); ++it) {
      if (SameText(it->first, section)) {
        Sections.erase(it);
        break;
      }
    }
    return true;
  }

  void Set(const std::string& section, const std::string& key, const std::string& value) {
    Section(section).emplace_back(key, value);
  }
  std::vector<std::string> KeysOf(const std::string& section) const {
    std::vector<std::string> names;
    if (const TKeys* keys = Find(section)) {
      for (const auto& kv : *keys) names.push_back(kv.first);
    }
    return names;
  }
  std::string Get(const std::string& section, const std::string& key) {
    return ReadString(section, key, "<missing>");
  }

  std::string FailKey;
  int Writes = 0;

 private:
  const TKeys* Find(const std::string& section) const {
    for (const auto& [name, keys] : Sections) {
      if (SameText(name, section)) return &keys;
    }
    return nullptr;
  }
  TKeys& Section(const std::string& section) {
    for (auto& [name, keys] : Sections) {
      if (SameText(name, section)) return keys;
    }
    Sections.emplace_back(section, TKeys{});
    return Sections.back().second;
  }

  std::vector<std::pair<std::string, TKeys>> Sections;
};

// A registry key in memory. Values are string or not (a DWORD, say).
struct TMemoryKeyData {
  struct TValue {
    std::string Name;
    std::string Data;
    bool IsString = true;
  };
  std::vector<TValue> Values;
  bool FailWrites = false;

  const TValue* Find(const std::string& name) const {
    for (const TValue& v : Values) {
      if (SameText(v.Name, name)) return &v;
    }
    return nullptr;
  }
};

class TMemoryRunKey : public TRunKey {
 public:
  explicit TMemoryRunKey(TMemoryKeyData& data) : Data(data) {}
  bool ValueNames(std::vector<std::string>& names) override {
    names.clear();
    for (const auto& v : Data.Values) names.push_back(v.Name);
    return true;
  }
  bool ReadString(const std::string& name, std::string& data) override {
    const auto* v = Data.Find(name);
    if (!v || !v->IsString) return false;
    data = v->Data;
    return true;
  }
  bool WriteString(const std::string& name, const std::string& data) override {
    if (Data.FailWrites) return false;
    for (auto& v : Data.Values) {
      if (SameText(v.Name, name)) {
        v = {name, data, true};
        return true;
      }
    }
    Data.Values.push_back({name, data, true});
    return true;
  }
  bool DeleteValue(const std::string& name) override {
    if (Data.FailWrites) return false;
    for (auto it = Data.Values.begin(); it != Data.Values.end(); ++it) {
      if (SameText(it->Name, name)) {
        Data.Values.erase(it);
        return true;
      }
    }
    return false;
  }

 private:
  TMemoryKeyData& Data;
};

class TMemoryRunKeys : public TRunKeys {
 public:
  std::unique_ptr<TRunKey> OpenCurrentUser() override {
    if (!UserOpens) return nullptr;
    return std::make_unique<TMemoryRunKey>(User);
  }
  std::unique_ptr<TRunKey> OpenLocalMachine() override {
    if (!MachineOpens) return nullptr;
    return std::make_unique<TMemoryRunKey>(Machine);
  }

  TMemoryKeyData User;
  TMemoryKeyData Machine;
  bool UserOpens = true;
  bool MachineOpens = true;
};
