// Writing a picture's file beside its load: the save starts on a thread of its
// own once the load reports its first final rows, and reads each row only once
// the load has placed it, so that the output is written while the rest of the
// picture decodes (rows still in the cache, the second processor busy).
#pragma once
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "kaleocore.h"

class SaveBeside {
public:
    // Runs on the saving thread with the picture as the load will settle it;
    // true when it wrote its whole file.
    using Save = std::function<bool(Image* picture)>;

    explicit SaveBeside(Save save);
    ~SaveBeside();
    SaveBeside(const SaveBeside&) = delete;
    SaveBeside& operator=(const SaveBeside&) = delete;

    // Follows the loads of the calling thread until finish.
    void attach();
    // After the load: stops following, waits for the save and says whether it
    // wrote its whole file from the very picture the load returned.
    bool finish(Status loaded, const Image& picture);
    // Whether a save was started at all.
    bool started() const { return started_; }

private:
    static void onRows(int32_t rows, const Image* picture, void* datum);
    static int32_t onGate(int32_t rows, void* datum);
    void run();

    Save save_;
    std::mutex lock_;
    std::condition_variable moved_;
    Image picture_{};
    int32_t ready_ = 0;        // rows the load has made final
    int32_t wake_ = 0;         // rows the waiting saver wakes for
    bool withdrawn_ = false;   // the load took its rows back
    bool over_ = false;        // the load has returned
    bool reading_ = false;     // the saving thread may be reading rows
    bool saved_ = false;
    bool started_ = false;
    std::thread worker_;
};
