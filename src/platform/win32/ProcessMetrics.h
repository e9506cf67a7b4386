#pragma once

#include "util/EventLog.h"

// What this process holds now: private bytes, kernel handles, GDI and USER objects, threads,
// bytes allocated from the C runtime's heap and from the other heaps.
// A figure the system does not give is -1 (Wine, for one, has no GDI or USER object counts).
TProcessMetrics ReadProcessMetrics();
