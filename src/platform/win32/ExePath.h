#pragma once

#include <string>

// The full path of this process's executable, however long.
std::string ExecutablePath();

// The settings file beside the executable: its path with the extension ".ini".
std::string IniPath();

// The decimal separator of the user's locale ('.' when the locale gives none).
char LocaleDecimalSeparator();
