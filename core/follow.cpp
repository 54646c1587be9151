// Saving beside loading. The loading thread tells its follower which top rows
// of the picture are final; the saving thread waits at its gate before it
// reads a row. Both records are per thread, as loads and saves are.
#include <algorithm>

#include "rowconv.h"

namespace {

// Rows reported at once: a few hundred kilobytes, so that a waiting saver
// wakes some tens of times for a large picture rather than once a row.
constexpr int64_t REPORT_BYTES = 256 << 10;

struct LoadFollow {
    LoadFollower follower = nullptr;
    void* datum = nullptr;
    bool active = false;     // this load's rows are being reported
    Image picture{};         // the record as the load will settle it
    int32_t reported = 0;
    int32_t step = 1;
};

struct Gate {
    SaveGate gate = nullptr;
    void* datum = nullptr;
    int32_t open = 0;        // rows the gate has let through in this save
};

thread_local LoadFollow t_follow;
thread_local Gate t_gate;

}  // namespace

void setLoadFollower(LoadFollower follower, void* datum) {
    t_follow = LoadFollow{};
    t_follow.follower = follower;
    t_follow.datum = datum;
}

void followBegin(const Image& settled) {
    LoadFollow& f = t_follow;
    f.active = f.follower != nullptr && settled.pixels && (settled.kind & IMG_24BIT) && settled.height > 0;
    if (!f.active) return;
    f.picture = settled;
    f.reported = 0;
    f.step = static_cast<int32_t>(std::max<int64_t>(1, REPORT_BYTES / std::max<int64_t>(1, settled.stride)));
}

bool following() { return t_follow.active; }

void followRows(int32_t rows) {
    LoadFollow& f = t_follow;
    if (!f.active || rows <= f.reported) return;
    if (rows < f.picture.height && rows - f.reported < f.step) return;
    f.reported = std::min(rows, f.picture.height);
    f.follower(f.reported, &f.picture, f.datum);
}

void followWithdraw() {
    LoadFollow& f = t_follow;
    if (!f.active) return;
    f.active = false;
    // Nothing reported, nothing to take back.
    if (f.reported > 0) f.follower(FOLLOW_WITHDRAWN, &f.picture, f.datum);
}

void followedPixelsFreed(const uint8_t* pixels) {
    if (pixels && t_follow.active && t_follow.picture.pixels == pixels) followWithdraw();
}

void followEnd() { t_follow.active = false; }

void setSaveGate(SaveGate gate, void* datum) {
    t_gate.gate = gate;
    t_gate.datum = datum;
    t_gate.open = 0;
}

void gateBegin() { t_gate.open = 0; }

bool gateRows(int32_t rows) {
    Gate& g = t_gate;
    if (!g.gate || rows <= g.open) return true;
    const int32_t open = g.gate(rows, g.datum);
    if (open < rows) return false;
    g.open = open;
    return true;
}

int32_t gateOpenRows(int32_t rows) {
    if (!gateRows(rows)) return -1;
    return t_gate.gate ? t_gate.open : INT32_MAX;
}
