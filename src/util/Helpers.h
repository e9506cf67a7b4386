#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// "C:\dir" -> "C:\dir\"; an empty path stays empty; a trailing '/' is not a separator here.
std::string AddBackslash(const std::string& path);

// Upper-cases Latin and Cyrillic letters of a Windows-1251 text; other bytes stay as they are.
std::string UpCaseStr(const std::string& text);

// A list of raw blocks from malloc. Frees them last to first and empties the list;
// with destroy the list itself goes too.
using TBlockList = std::vector<void*>;
void FreeBlockList(std::unique_ptr<TBlockList>& list, bool destroy);

// True only for an existing directory (a file, a missing or unreadable path give false).
bool DirExists(const std::string& path);

// Removes leading and trailing characters of code 0 to 32.
std::string TrimText(const std::string& text);

// Case-insensitive (ASCII and Windows-1251 letters) equality.
bool SameText(const std::string& a, const std::string& b);

// "C:\Apps\relay.exe" -> "C:\Apps\relay.ini"; a name without extension gets ".ini".
std::string IniPathOf(const std::string& exePath);
// "C:\Apps\relay.exe" -> "C:\Apps\relay.log": the event log, when EventLog is on.
std::string LogPathOf(const std::string& exePath);
// "C:\Apps\relay.exe" -> "C:\Apps"; a file in a drive's root keeps the root "C:\".
std::string ExeDirOf(const std::string& exePath);
