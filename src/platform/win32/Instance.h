#pragma once

#include <windows.h>

// True when another process runs this same executable (same full path, letter case ignored).
// That instance's main window (of the given class) has then been restored and brought to the
// front, also from the tray.
bool CheckOtherInstance(const char* windowClass);

// The process's first top-level window of the class that no other window owns, or null. Owned
// windows (tool tips, popups, the system's input-method windows) are passed over: restoring
// them does nothing for the program's own window.
HWND FindProcessWindow(DWORD processId, const char* windowClass);
