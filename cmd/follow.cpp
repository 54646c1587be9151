#include "follow.h"

#include <algorithm>
#include <utility>

SaveBeside::SaveBeside(Save save) : save_(std::move(save)) {}

SaveBeside::~SaveBeside() {
    setLoadFollower(nullptr, nullptr);
    {
        std::lock_guard<std::mutex> g(lock_);
        over_ = true;
    }
    moved_.notify_all();
    if (worker_.joinable()) worker_.join();
}

void SaveBeside::attach() { setLoadFollower(onRows, this); }

void SaveBeside::onRows(int32_t rows, const Image* picture, void* datum) {
    SaveBeside* s = static_cast<SaveBeside*>(datum);
    std::unique_lock<std::mutex> g(s->lock_);
    if (rows == FOLLOW_WITHDRAWN) {
        s->withdrawn_ = true;
        s->moved_.notify_all();
        // The rows may be freed as soon as this returns.
        s->moved_.wait(g, [s] { return !s->reading_; });
        return;
    }
    if (s->withdrawn_) return;
    if (!s->worker_.joinable()) {
        s->picture_ = *picture;
        s->started_ = true;
        s->worker_ = std::thread(&SaveBeside::run, s);
    }
    s->ready_ = rows;
    if (rows >= s->wake_) s->moved_.notify_all();
}

int32_t SaveBeside::onGate(int32_t rows, void* datum) {
    SaveBeside* s = static_cast<SaveBeside*>(datum);
    std::unique_lock<std::mutex> g(s->lock_);
    s->reading_ = false;
    s->moved_.notify_all();
    // Each wake-up costs the loading thread a system call (some 20 us on a
    // virtual machine), so a saver that has caught up sleeps until about a
    // mebibyte more is ready, or the rows end, and the load wakes it only then.
    const int64_t more = std::max<int64_t>(1, (int64_t(1) << 20) / std::max<int64_t>(1, s->picture_.stride));
    s->wake_ = static_cast<int32_t>(std::min<int64_t>(std::max(rows, s->picture_.height), int64_t(rows) + more));
    s->moved_.wait(g, [s] { return s->withdrawn_ || s->over_ || s->ready_ >= s->wake_; });
    s->wake_ = 0;
    if (s->withdrawn_ || s->ready_ < rows) return -1;
    s->reading_ = true;
    return s->ready_;
}

void SaveBeside::run() {
    setSaveGate(onGate, this);
    Image picture = picture_;
    const bool saved = save_(&picture);
    setSaveGate(nullptr, nullptr);
    std::lock_guard<std::mutex> g(lock_);
    saved_ = saved;
    reading_ = false;
    moved_.notify_all();
}

bool SaveBeside::finish(Status loaded, const Image& picture) {
    setLoadFollower(nullptr, nullptr);
    {
        std::lock_guard<std::mutex> g(lock_);
        over_ = true;
    }
    moved_.notify_all();
    if (worker_.joinable()) worker_.join();
    const Image& p = picture_;
    return saved_ && loaded == ST_OK && !withdrawn_ && ready_ == p.height && picture.pixels == p.pixels &&
           picture.kind == p.kind && picture.width == p.width && picture.height == p.height &&
           picture.stride == p.stride && !picture.palette;
}
