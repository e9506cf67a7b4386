#pragma once

#include <windows.h>

#include <functional>
#include <string>

// The full path of this process's executable, however long.
// Reads a path through a function that fills a buffer of a given size and returns the length,
// growing the buffer until the whole path fits; empty when the read fails.
std::string ReadFullPath(const std::function<DWORD(char* buffer, DWORD size)>& read);

std::string ExecutablePath();

// The settings file beside the executable: its path with the extension ".ini".
std::string IniPath();

// The decimal separator of the user's locale ('.' when the locale gives none).
char LocaleDecimalSeparator();
