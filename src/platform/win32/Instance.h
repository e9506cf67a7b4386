#pragma once

#include <windows.h>

// True when another process runs this same executable (same full path, letter case ignored).
// That instance's window has then been restored and brought to the front.
bool CheckOtherInstance();

// The first top-level window owned by the process, or null. The system's input-method
// windows are passed over.
HWND FindProcessWindow(DWORD processId);
