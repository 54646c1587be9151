// The recent-file list: nine slots of the settings (FileName_0 … FileName_8),
// slot 0 first; the first empty slot ends the list.
#pragma once
#include <cstddef>

#include "settings.h"

enum RecentChange {
    RECENT_UNCHANGED,  // already listed (it does not move), or refused
    RECENT_APPENDED,   // stored in the first empty slot; one menu item to append
    RECENT_SHIFTED,    // the list was full: everything moved down, relabel all
};

struct RecentResult {
    RecentChange change;
    int slot;             // the slot written
    bool separatorFirst;  // slot 0 was filled: a separator goes before the item
};

// Number of filled slots before the first empty one.
int recentCount(const char (*slots)[PATH_SIZE]);
// Adds a path (exact, case-sensitive comparison). Empty paths and paths longer
// than MAX_PATH_CHARS are refused.
RecentResult addRecentFile(char (*slots)[PATH_SIZE], const char* path);
// The menu text of a slot: "&%d. %s" with the slot number plus one.
void recentMenuLabel(int slot, const char* path, char* out, size_t size);
