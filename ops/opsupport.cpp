#include "opsupport.h"

#include <cstring>
#include <ctime>
#include <atomic>
#include <thread>
#if defined(__unix__) || defined(__APPLE__)
#include <pthread.h>
#define KALEO_BAND_THREADS 1
#endif

#include "codec.h"
#include "effects.h"

bool opImageValid(const Image* image) {
    if (!image || !image->pixels || image->width < 1 || image->height < 1) return false;
    switch (image->kind) {
    case IMG_BINARY:
    case IMG_GREY:
    case IMG_RGB:
    case IMG_RGB32:
    case IMG_BGR:
    case IMG_BGR32:
        break;
    case IMG_PALETTE:
        if (!image->palette) return false;
        break;
    default:
        return false;
    }
    if (image->bytesPerPixel != kindBytesPerPixel(image->kind)) return false;
    return static_cast<int64_t>(image->stride) >= static_cast<int64_t>(image->bytesPerPixel) * image->width;
}

int32_t clampSide(int64_t side) {
    if (side < 1) return 1;
    if (side > MAX_IMAGE_SIDE) return MAX_IMAGE_SIDE;
    return static_cast<int32_t>(side);
}

ChannelOffsets channelOffsets(uint16_t kind) {
    switch (kind) {
    case IMG_RGB: return {0, 1, 2, -1};
    case IMG_RGB32: return {0, 1, 2, 3};
    case IMG_BGR: return {2, 1, 0, -1};
    case IMG_BGR32: return {3, 2, 1, 0};
    default: return {0, 0, 0, -1};
    }
}

int greyLevels(const Image* image) {
    if (image->kind == IMG_BINARY) return 2;
    if (image->colours <= 1 || image->colours > 256) return 256;
    return image->colours;
}

void greySpreadTable(const Image* image, uint8_t spread[256]) {
    if (image->kind == IMG_BINARY) {
        spread[0] = 0;
        for (int v = 1; v < 256; ++v) spread[v] = 255;
        return;
    }
    int k = greyLevels(image);
    for (int v = 0; v < 256; ++v) spread[v] = v >= k ? 255 : static_cast<uint8_t>(v * 255 / (k - 1));
}

namespace {

// A zeroed picture of the given kind and size carrying the source's
// alignment, orientation and resolution.
bool createShaped(const Image* source, uint16_t kind, int32_t width, int32_t height, Image* out) {
    if (!createImage(out, kind, source->alignment, width, height)) return false;
    out->orientation = source->orientation;
    out->xdpi = source->xdpi;
    out->ydpi = source->ydpi;
    return true;
}

}  // namespace

bool createResult(Image* result, const Image* source, uint16_t kind) {
    return createShaped(source, kind, source->width, source->height, result);
}

bool createLike(const Image* source, uint16_t kind, int32_t width, int32_t height, Image* out) {
    if (!createShaped(source, kind, width, height, out)) {
        freeImage(out);
        return false;
    }
    if (kind == source->kind) {
        out->colours = source->colours;
        if (kind == IMG_PALETTE && source->palette) memcpy(out->palette, source->palette, PALETTE_BYTES);
    }
    return true;
}

void commitResult(Image* source, Image* destination, Image* result) {
    Image* target = (destination && destination != source) ? destination : source;
    freeImage(target);
    *target = *result;
    result->pixels = nullptr;
    result->palette = nullptr;
}

Status spreadGreyLevels(const Image* source, Image* spread, const Image** work) {
    *work = source;
    if (source->kind != IMG_BINARY && !(source->kind == IMG_GREY && greyLevels(source) < 256)) return ST_OK;
    if (!createResult(spread, source, IMG_GREY)) return ST_NO_MEMORY;
    uint8_t table[256];
    greySpreadTable(source, table);
    for (int32_t y = 0; y < source->height; ++y) {
        const uint8_t* s = imageRow(source, y);
        uint8_t* d = imageRow(spread, y);
        for (int32_t x = 0; x < source->width; ++x) d[x] = table[s[x]];
    }
    *work = spread;
    return ST_OK;
}

Status promoteForBytes(const Image* source, Image* promoted, const Image** work) {
    if (source->kind != IMG_PALETTE) return spreadGreyLevels(source, promoted, work);
    *work = source;
    const int32_t w = source->width;
    if (!createLike(source, IMG_RGB, w, source->height, promoted)) return ST_NO_MEMORY;
    const uint8_t* pal = source->palette;
    for (int32_t y = 0; y < source->height; ++y) {
        const uint8_t* s = imageRow(source, y);
        uint8_t* d = imageRow(promoted, y);
        for (int32_t x = 0; x < w; ++x, d += 3) {
            d[0] = pal[s[x]];
            d[1] = pal[256 + s[x]];
            d[2] = pal[512 + s[x]];
        }
    }
    *work = promoted;
    return ST_OK;
}

namespace {
bool gSeedFixed = false;
uint32_t gSeed = 0;
}  // namespace

OpRandom operationRandom() {
    if (gSeedFixed) return OpRandom(gSeed);
    return OpRandom(static_cast<uint32_t>(time(nullptr)));
}

void setEffectSeed(uint32_t seed) {
    gSeedFixed = true;
    gSeed = seed;
}

void setEffectSeedFromClock() {
    gSeedFixed = false;
}

namespace {

constexpr int64_t BAND_MIN_PIXELS = 1 << 20;  // below this a thread costs more than it saves
constexpr int32_t BAND_MIN_ROWS = 32;
constexpr unsigned MAX_BANDS = 8;

struct BandJob {
    BandWork work;
    void* data;
    Band band;
    Status status;
};

void runBandJob(BandJob* job) { job->status = job->work(job->data, job->band); }

#ifdef KALEO_BAND_THREADS
void* bandThread(void* job) {
    runBandJob(static_cast<BandJob*>(job));
    return nullptr;
}
#endif

}  // namespace

int taskWorkers(int count, int64_t pixels) {
#ifndef KALEO_BAND_THREADS
    (void)count;
    (void)pixels;
    return 1;
#else
    const unsigned wanted = workThreads();
    unsigned workers = pixels < BAND_MIN_PIXELS ? 1 : wanted ? wanted : std::thread::hardware_concurrency();
    if (workers > MAX_BANDS) workers = MAX_BANDS;
    if (count < 1) return 1;
    if (workers > static_cast<unsigned>(count)) workers = static_cast<unsigned>(count);
    return workers < 1 ? 1 : static_cast<int>(workers);
#endif
}

namespace {

struct OrderedState {
    const OrderedWork* w = nullptr;
    int window = 1;
#ifdef KALEO_BAND_THREADS
    pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t changed = PTHREAD_COND_INITIALIZER;
#endif
    int64_t loaded = 0, claimed = 0;
    bool done[MAX_ORDERED_WINDOW] = {};
    bool ended = false;  // nothing more will be loaded
};

struct OrderedHelper {
    OrderedState* state;
    int worker;
};

#ifdef KALEO_BAND_THREADS
// Called and returns with the lock held.
void workOneLocked(OrderedState* s, int worker) {
    const int slot = static_cast<int>(s->claimed++ % s->window);
    pthread_mutex_unlock(&s->lock);
    s->w->work(s->w->data, slot, worker);
    pthread_mutex_lock(&s->lock);
    s->done[slot] = true;
    pthread_cond_broadcast(&s->changed);
}

void* orderedHelper(void* data) {
    OrderedHelper* h = static_cast<OrderedHelper*>(data);
    OrderedState* s = h->state;
    pthread_mutex_lock(&s->lock);
    for (;;) {
        if (s->claimed < s->loaded) workOneLocked(s, h->worker);
        else if (s->ended) break;
        else pthread_cond_wait(&s->changed, &s->lock);
    }
    pthread_mutex_unlock(&s->lock);
    return nullptr;
}
#endif

}  // namespace

Status runOrdered(int64_t count, int window, int workers, const OrderedWork& w) {
    if (window > MAX_ORDERED_WINDOW) window = MAX_ORDERED_WINDOW;
    if (window < 1) window = 1;
#ifdef KALEO_BAND_THREADS
    if (workers > static_cast<int>(MAX_BANDS)) workers = MAX_BANDS;
    if (workers > 1 && window > 1) {
        OrderedState s;
        s.w = &w;
        s.window = window;
        OrderedHelper helpers[MAX_BANDS];
        pthread_t threads[MAX_BANDS];
        bool started[MAX_BANDS] = {};
        for (int i = 1; i < workers; ++i) {
            helpers[i] = OrderedHelper{&s, i};
            started[i] = pthread_create(&threads[i], nullptr, orderedHelper, &helpers[i]) == 0;
        }
        Status failed = ST_OK, loadFailed = ST_OK;
        int64_t delivered = 0;
        pthread_mutex_lock(&s.lock);
        for (;;) {
            while (!s.ended && s.loaded < count && s.loaded < delivered + window) {
                const int64_t item = s.loaded;
                const int slot = static_cast<int>(item % window);
                pthread_mutex_unlock(&s.lock);
                const Status st = w.load(w.data, item, slot);
                pthread_mutex_lock(&s.lock);
                if (st != ST_OK) {
                    loadFailed = st;
                    s.ended = true;
                } else {
                    s.done[slot] = false;
                    ++s.loaded;
                }
                pthread_cond_broadcast(&s.changed);
            }
            if (s.loaded == count && !s.ended) {
                s.ended = true;
                pthread_cond_broadcast(&s.changed);
            }
            if (delivered == s.loaded) break;  // (loading has ended)
            const int slot = static_cast<int>(delivered % window);
            if (s.done[slot]) {
                pthread_mutex_unlock(&s.lock);
                failed = w.deliver(w.data, delivered, slot);
                pthread_mutex_lock(&s.lock);
                if (failed != ST_OK) break;
                ++delivered;
            } else if (s.claimed < s.loaded) {
                workOneLocked(&s, 0);
            } else {
                pthread_cond_wait(&s.changed, &s.lock);
            }
        }
        // Helpers finish the item in hand and leave: nothing is left to claim.
        s.ended = true;
        s.loaded = s.claimed;
        pthread_cond_broadcast(&s.changed);
        pthread_mutex_unlock(&s.lock);
        for (int i = 1; i < workers; ++i)
            if (started[i]) pthread_join(threads[i], nullptr);
        pthread_mutex_destroy(&s.lock);
        pthread_cond_destroy(&s.changed);
        return failed != ST_OK ? failed : loadFailed;
    }
#endif
    (void)workers;
    for (int64_t item = 0; item < count; ++item) {
        const int slot = static_cast<int>(item % window);
        Status st = w.load(w.data, item, slot);
        if (st != ST_OK) return st;
        w.work(w.data, slot, 0);
        st = w.deliver(w.data, item, slot);
        if (st != ST_OK) return st;
    }
    return ST_OK;
}

void setOperationThreads(unsigned count) { setWorkThreads(count); }

Status runInBands(int32_t rows, int64_t pixels, BandWork work, void* data) {
    const unsigned wanted = workThreads();
    unsigned bands = pixels < BAND_MIN_PIXELS ? 1 : wanted ? wanted : std::thread::hardware_concurrency();
#ifndef KALEO_BAND_THREADS
    bands = 1;
#endif
    if (bands > MAX_BANDS) bands = MAX_BANDS;
    if (bands > static_cast<unsigned>(rows / BAND_MIN_ROWS)) bands = static_cast<unsigned>(rows / BAND_MIN_ROWS);
    if (bands <= 1) return work(data, Band{0, rows});
    BandJob jobs[MAX_BANDS];
    for (unsigned i = 0; i < bands; ++i)
        jobs[i] = BandJob{work, data,
                          Band{static_cast<int32_t>(int64_t(rows) * i / bands), static_cast<int32_t>(int64_t(rows) * (i + 1) / bands)},
                          ST_OK};
#ifdef KALEO_BAND_THREADS
    pthread_t threads[MAX_BANDS];
    bool started[MAX_BANDS] = {};
    for (unsigned i = 1; i < bands; ++i) started[i] = pthread_create(&threads[i], nullptr, bandThread, &jobs[i]) == 0;
    runBandJob(&jobs[0]);
    for (unsigned i = 1; i < bands; ++i) {
        if (started[i]) pthread_join(threads[i], nullptr);
        else runBandJob(&jobs[i]);  // no thread to be had: this one does the band
    }
#endif
    for (unsigned i = 0; i < bands; ++i)
        if (jobs[i].status != ST_OK) return jobs[i].status;
    return ST_OK;
}
