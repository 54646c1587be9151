#include "image.h"

#include <cstdlib>
#include <cstring>

#include <atomic>

#if defined(__linux__)
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

int kindBytesPerPixel(uint16_t kind) {
    if (kind & IMG_32BIT) return 4;
    if (kind & IMG_24BIT) return 3;
    return 1;
}

// The helper below commits a large picture's pages 2 MiB at a time.
constexpr size_t LARGE_PAGE = size_t{2} << 20;

// The whole 2 MiB stretches inside a block: [*start, *end).
static void largePagesOf(const uint8_t* block, size_t bytes, uintptr_t* start, uintptr_t* end) {
    *start = (reinterpret_cast<uintptr_t>(block) + LARGE_PAGE - 1) & ~(LARGE_PAGE - 1);
    *end = (reinterpret_cast<uintptr_t>(block) + bytes) & ~(LARGE_PAGE - 1);
}

static std::atomic<unsigned> g_workThreads{0};

void setWorkThreads(unsigned count) { g_workThreads.store(count, std::memory_order_relaxed); }
unsigned workThreads() { return g_workThreads.load(std::memory_order_relaxed); }

// The system clears every fresh page as the decoder first writes to it, one
// fault per 4 KiB (a tenth to a quarter of a fast decode on a virtual
// machine). When a second processor is free, a helper thread commits the
// picture's pages ahead of the decoder, from the top, 2 MiB at a time, in one
// call each. The pages stay 4 KiB ones: on a virtual machine that hands freed
// memory back to its host, 2 MiB pages come mostly from the blocks handed
// back, and each costs the host a fault of its own (a decode then ran 1.5 to
// 2 times slower, one run in four). Committing never
// changes what memory holds, so it may race the decoder's writes. Freeing the
// picture stops the helper first. A few pictures at a time have one; where
// the system cannot commit ahead, the helper ends at once.
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
constexpr int PREFAULT_SLOTS = 4;

struct Prefault {
    uint8_t* block = nullptr;  // the picture's pixels, null for a free slot
    uintptr_t start = 0, end = 0;
    std::atomic<bool> stop{false};
    pthread_t thread{};
};

static Prefault g_prefault[PREFAULT_SLOTS];
static pthread_mutex_t g_prefaultLock = PTHREAD_MUTEX_INITIALIZER;

static void* prefaultPages(void* data) {
    Prefault* p = static_cast<Prefault*>(data);
    for (uintptr_t at = p->start; at < p->end && !p->stop.load(std::memory_order_relaxed); at += LARGE_PAGE) {
        const size_t n = p->end - at < LARGE_PAGE ? p->end - at : LARGE_PAGE;
        if (madvise(reinterpret_cast<void*>(at), n, MADV_POPULATE_WRITE) != 0) break;
    }
    return nullptr;
}

static void startPrefault(uint8_t* block, uintptr_t start, uintptr_t end) {
    if (workThreads() == 1 || sysconf(_SC_NPROCESSORS_ONLN) < 2) return;
    pthread_mutex_lock(&g_prefaultLock);
    for (Prefault& p : g_prefault) {
        if (p.block) continue;
        p.start = start;
        p.end = end;
        p.stop.store(false);
        if (pthread_create(&p.thread, nullptr, prefaultPages, &p) == 0) p.block = block;
        break;
    }
    pthread_mutex_unlock(&g_prefaultLock);
}

static void stopPrefault(uint8_t* block) {
    if (!block) return;
    pthread_mutex_lock(&g_prefaultLock);
    for (Prefault& p : g_prefault) {
        if (p.block != block) continue;
        p.stop.store(true);
        pthread_join(p.thread, nullptr);
        p.block = nullptr;
    }
    pthread_mutex_unlock(&g_prefaultLock);
}
#else
static void startPrefault(uint8_t*, uintptr_t, uintptr_t) {}
static void stopPrefault(uint8_t*) {}
#endif

static bool allocPixels(Image* image, int64_t stride, int64_t height) {
    if (stride <= 0 || height <= 0 || stride > INT32_MAX) return false;
    uint64_t bytes = static_cast<uint64_t>(stride) * static_cast<uint64_t>(height);
    if (bytes > SIZE_MAX / 2) return false;
    image->pixels = static_cast<uint8_t*>(calloc(static_cast<size_t>(bytes), 1));
    if (image->pixels == nullptr) return false;
    if (bytes >= 8 * LARGE_PAGE) {
        uintptr_t start, end;
        largePagesOf(image->pixels, static_cast<size_t>(bytes), &start, &end);
        startPrefault(image->pixels, start, end);
    }
    return true;
}

int createImage(Image* image, uint16_t kind, int alignment, int32_t width, int32_t height) {
    memset(image, 0, sizeof *image);
    if (alignment < 1) alignment = 1;
    image->alignment = static_cast<int16_t>(alignment > INT16_MAX ? INT16_MAX : alignment);
    if ((kind & IMG_24BIT) || kind == IMG_TRUECOLOUR) {
        image->bytesPerPixel = 3;
        if (kind == IMG_24BIT || kind == IMG_TRUECOLOUR) kind = IMG_RGB;
    } else if (kind & IMG_32BIT) {
        image->bytesPerPixel = 4;
        if (kind == IMG_32BIT) kind = IMG_RGB32;
    } else {
        image->bytesPerPixel = 1;
    }
    image->kind = kind;
    image->width = width;
    image->height = height;
    if (width < 1 || height < 1) return 0;
    int64_t align = image->alignment;
    int64_t stride = (static_cast<int64_t>(image->bytesPerPixel) * width + align - 1) / align * align;
    if (stride > INT32_MAX) return 0;
    image->stride = static_cast<int32_t>(stride);
    if (!allocPixels(image, stride, height)) return 0;
    if (kind == IMG_GREY || kind == IMG_PALETTE) image->colours = 256;
    else if (kind == IMG_BINARY) image->colours = 2;
    if (kind & IMG_PALETTE) {
        image->palette = static_cast<uint8_t*>(calloc(PALETTE_BYTES, 1));
        if (!image->palette) {
            freeImage(image);
            return 0;
        }
    }
    return 1;
}

int createImageStrided(Image* image, uint16_t kind, int32_t stride, int32_t width, int32_t height) {
    memset(image, 0, sizeof *image);
    image->kind = kind;
    image->bytesPerPixel = static_cast<int16_t>(kindBytesPerPixel(kind));
    image->alignment = 1;
    image->width = width;
    image->height = height;
    image->stride = stride;
    if (width < 1 || height < 1) return 0;
    if (static_cast<int64_t>(stride) < static_cast<int64_t>(image->bytesPerPixel) * width) return 0;
    if (!allocPixels(image, stride, height)) return 0;
    if (kind & IMG_PALETTE) {
        image->palette = static_cast<uint8_t*>(calloc(PALETTE_BYTES, 1));
        if (!image->palette) {
            freeImage(image);
            return 0;
        }
    }
    return 1;
}

// Pictures whose pixels are a private mapping of their file (see
// mapFilePixels): a few at a time, released by freeImage.
#if defined(__linux__)
constexpr int MAPPED_SLOTS = 16;

struct MappedPixels {
    uint8_t* pixels = nullptr;  // null for a free slot
    void* base = nullptr;
    size_t length = 0;
};

static MappedPixels g_mapped[MAPPED_SLOTS];
static pthread_mutex_t g_mappedLock = PTHREAD_MUTEX_INITIALIZER;

bool mapFilePixels(Image* image, int fd, int64_t offset, int64_t bytes) {
    const int64_t page = sysconf(_SC_PAGESIZE);
    if (!image->pixels || fd < 0 || offset < 0 || bytes <= 0 || page <= 0 ||
        bytes != static_cast<int64_t>(image->stride) * image->height)
        return false;
    const int64_t skip = offset % page;
    if (static_cast<uint64_t>(bytes + skip) > SIZE_MAX / 2) return false;
    const size_t length = static_cast<size_t>(bytes + skip);
    pthread_mutex_lock(&g_mappedLock);
    MappedPixels* slot = nullptr;
    for (MappedPixels& m : g_mapped)
        if (!m.pixels) {
            slot = &m;
            break;
        }
    void* base = slot ? mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, static_cast<off_t>(offset - skip))
                      : MAP_FAILED;
    if (base == MAP_FAILED) {
        pthread_mutex_unlock(&g_mappedLock);
        return false;
    }
#if defined(MADV_POPULATE_READ)
    // The file's pages enter the mapping in one call rather than a fault each
    // 64 KiB; a page is copied only when something writes to it.
    madvise(base, length, MADV_POPULATE_READ);
#endif
    uint8_t* old = image->pixels;
    slot->pixels = static_cast<uint8_t*>(base) + skip;
    slot->base = base;
    slot->length = length;
    image->pixels = slot->pixels;
    pthread_mutex_unlock(&g_mappedLock);
    followedPixelsFreed(old);
    stopPrefault(old);
    free(old);
    return true;
}

// Unmaps pixels that mapFilePixels gave; false for pixels of the heap.
static bool unmapPixels(uint8_t* pixels) {
    if (!pixels) return false;
    pthread_mutex_lock(&g_mappedLock);
    bool found = false;
    for (MappedPixels& m : g_mapped) {
        if (m.pixels != pixels) continue;
        munmap(m.base, m.length);
        m = MappedPixels();
        found = true;
        break;
    }
    pthread_mutex_unlock(&g_mappedLock);
    return found;
}
#else
bool mapFilePixels(Image*, int, int64_t, int64_t) { return false; }
static bool unmapPixels(uint8_t*) { return false; }
#endif

void freeImage(Image* image) {
    if (!image) return;
    followedPixelsFreed(image->pixels);
    stopPrefault(image->pixels);
    if (!unmapPixels(image->pixels)) free(image->pixels);
    free(image->palette);
    image->pixels = nullptr;
    image->palette = nullptr;
}

bool imageHasAlpha(const Image* image) {
    if (!image->pixels || !(image->kind & IMG_32BIT)) return false;
    int offset = image->kind == IMG_BGR32 ? 0 : 3;
    for (int32_t y = 0; y < image->height; ++y) {
        const uint8_t* p = imageRow(image, y) + offset;
        for (int32_t x = 0; x < image->width; ++x, p += 4)
            if (*p) return true;
    }
    return false;
}

namespace {

constexpr int32_t TURN_TILE = 64;

// The pixel size is a constant for the common sizes, so each copy is one move.
template <int BPP>
void turnTiles(const Image* src, bool clockwise, int bppAtRunTime, int32_t first, int32_t end, uint8_t* out,
               size_t outStride) {
    const size_t bpp = BPP ? BPP : static_cast<size_t>(bppAtRunTime);
    const int32_t w = src->width, h = src->height;
    for (int32_t i0 = first; i0 < end; i0 += TURN_TILE) {
        const int32_t i1 = i0 + TURN_TILE < end ? i0 + TURN_TILE : end;
        for (int32_t j0 = 0; j0 < h; j0 += TURN_TILE) {
            const int32_t j1 = j0 + TURN_TILE < h ? j0 + TURN_TILE : h;
            for (int32_t i = i0; i < i1; ++i) {
                const size_t sx = static_cast<size_t>(clockwise ? i : w - 1 - i) * bpp;
                uint8_t* d = out + static_cast<size_t>(i - first) * outStride + static_cast<size_t>(j0) * bpp;
                for (int32_t j = j0; j < j1; ++j, d += bpp) {
                    const int32_t sy = clockwise ? h - 1 - j : j;
                    memcpy(d, imageRow(src, sy) + sx, bpp);
                }
            }
        }
    }
}

}  // namespace

void turnedRows(const Image* src, bool clockwise, int32_t first, int32_t end, uint8_t* out, size_t outStride) {
    switch (src->bytesPerPixel) {
    case 1: turnTiles<1>(src, clockwise, 1, first, end, out, outStride); break;
    case 2: turnTiles<2>(src, clockwise, 2, first, end, out, outStride); break;
    case 3: turnTiles<3>(src, clockwise, 3, first, end, out, outStride); break;
    case 4: turnTiles<4>(src, clockwise, 4, first, end, out, outStride); break;
    default: turnTiles<0>(src, clockwise, src->bytesPerPixel, first, end, out, outStride); break;
    }
}

Image quarterTurnedShape(const Image& image) {
    Image shape = image;
    shape.width = image.height;
    shape.height = image.width;
    shape.xdpi = image.ydpi;
    shape.ydpi = image.xdpi;
    return shape;
}
