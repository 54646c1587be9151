// The recent-file list.
#include "recent.h"

#include <cstdio>
#include <cstring>

int recentCount(const char (*slots)[PATH_SIZE]) {
    int n = 0;
    while (n < RECENT_COUNT && slots[n][0]) ++n;
    return n;
}

RecentResult addRecentFile(char (*slots)[PATH_SIZE], const char* path) {
    RecentResult r{RECENT_UNCHANGED, -1, false};
    if (!path || !path[0] || strlen(path) > static_cast<size_t>(MAX_PATH_CHARS)) return r;
    int count = recentCount(slots);
    for (int i = 0; i < count; ++i)
        if (strcmp(slots[i], path) == 0) return r;
    if (count < RECENT_COUNT) {
        snprintf(slots[count], PATH_SIZE, "%s", path);
        r.change = RECENT_APPENDED;
        r.slot = count;
        r.separatorFirst = count == 0;
        return r;
    }
    memmove(slots[1], slots[0], static_cast<size_t>(RECENT_COUNT - 1) * PATH_SIZE);
    snprintf(slots[0], PATH_SIZE, "%s", path);
    r.change = RECENT_SHIFTED;
    r.slot = 0;
    return r;
}

void recentMenuLabel(int slot, const char* path, char* out, size_t size) {
    snprintf(out, size, "&%d. %s", slot + 1, path ? path : "");
}
