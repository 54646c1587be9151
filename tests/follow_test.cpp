// Saving beside loading: which rows a load reports as final, when it takes
// them back, how a save waits at its gate, and kaleocmd's files written that
// way against the same files written after the load.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "context.h"
#include "follow.h"
#include "kit.h"

using namespace testutil;

namespace {

using Bytes = std::vector<uint8_t>;

// What a follower heard: each report, and a copy of every row the moment it
// was said to be final.
struct Heard {
    std::vector<int32_t> reports;
    std::vector<Bytes> rows;
    Image picture{};
    bool recordChanged = false;
    Bytes firstRowAtWithdrawal;
};

void hear(int32_t rows, const Image* picture, void* datum) {
    Heard* h = static_cast<Heard*>(datum);
    if (!h->reports.empty() && memcmp(&h->picture, picture, sizeof *picture) != 0) h->recordChanged = true;
    h->picture = *picture;
    h->reports.push_back(rows);
    const int64_t n = int64_t(picture->width) * picture->bytesPerPixel;
    if (rows == FOLLOW_WITHDRAWN) {
        h->firstRowAtWithdrawal.assign(picture->pixels, picture->pixels + n);
        return;
    }
    for (int32_t y = static_cast<int32_t>(h->rows.size()); y < rows; ++y) {
        const uint8_t* p = imageRow(picture, y);
        h->rows.emplace_back(p, p + n);
    }
}

// A row of a generated raster, different on every row.
Bytes fileRow(int64_t bytes, int y, int salt) {
    Bytes r(static_cast<size_t>(bytes));
    for (size_t i = 0; i < r.size(); ++i) r[i] = static_cast<uint8_t>(i * 7 + y * 13 + salt);
    return r;
}

struct DecodeCase {
    const char* name;
    int planes, bits;
    uint16_t layout, orientation;
    int32_t maxWidth;        // a bounded load
    bool goBack;             // the decoder delivers rows 0..99 again at the end
    bool followed;           // rows are reported
};

// Delivers a 300 x 2000 raster (several reports' worth) the way a decoder does.
Status decodeFollowed(const DecodeCase& tc, Image* img, Heard* heard) {
    IoOptions o = defaultIoOptions();
    o.maxWidth = tc.maxWidth;
    o.maxHeight = tc.maxWidth;
    setLoadFollower(hear, heard);
    Status st;
    {
        IoScope scope(img, &o, nullptr, "follow", false);
        RasterHeader h{};
        h.layout = tc.layout;
        h.orientation = tc.orientation;
        h.channels = 1;
        h.width = 300;
        h.height = 2000;
        h.planes = static_cast<int16_t>(tc.planes);
        h.bitsPerPlane = static_cast<int16_t>(tc.bits);
        st = beginImage(&h);
        const int64_t rowBytes = fileRowLength();
        for (int y = 0; st == ST_OK && y < h.height; ++y) {
            const Bytes r = fileRow(rowBytes, y, 0);
            memcpy(h.rowBuffer, r.data(), r.size());
            st = putRows(-1, y, 1);
        }
        for (int y = 0; tc.goBack && st == ST_OK && y < 100; ++y) {
            const Bytes r = fileRow(rowBytes, y, 1);
            memcpy(h.rowBuffer, r.data(), r.size());
            st = putRows(-1, y, 1);
        }
        static const uint8_t palette[768] = {};
        const Status end = endImage(0, 8, tc.bits * tc.planes <= 8 ? palette : nullptr);
        if (st == ST_OK) st = end;
    }
    setLoadFollower(nullptr, nullptr);
    return st;
}

TEST(LoadFollower, ReportsOnlyRowsThatAreFinalAsTheyLand) {
    const DecodeCase cases[] = {
        {"R,G,B top first", 1, 24, 0, 0, 0, false, true},
        {"B,G,R mirrored", 1, 24, PL_REVERSED, OR_MIRRORED, 0, false, true},
        {"15-bit words", 1, 16, 0, 0, 0, false, true},
        {"bottom row first", 1, 24, 0, OR_BOTTOM_UP, 0, false, false},
        {"palette", 1, 8, 0, 0, 0, false, false},
        {"R,G,B,A", 1, 32, 0, 0, 0, false, false},
        {"C,M,Y,K", 1, 32, PL_CMYK, 0, 0, false, false},
        {"inverted R,G,B", 1, 24, PL_CMYK_INV, 0, 0, false, false},
        {"bounded load", 1, 24, 0, 0, 100, false, false},
        {"decoder goes back", 1, 24, 0, 0, 0, true, true},
    };
    for (const DecodeCase& tc : cases) {
        SCOPED_TRACE(tc.name);
        OwnedImage img;
        Heard heard;
        ASSERT_EQ(ST_OK, decodeFollowed(tc, &img, &heard));
        if (!tc.followed) {
            EXPECT_TRUE(heard.reports.empty());
            continue;
        }
        ASSERT_GE(heard.reports.size(), 3u);  // several reports, not one a row nor one at the end
        EXPECT_LT(heard.reports.size(), 100u);
        EXPECT_FALSE(heard.recordChanged);
        for (size_t i = 1; i < heard.reports.size(); ++i)
            if (heard.reports[i] != FOLLOW_WITHDRAWN) EXPECT_GT(heard.reports[i], heard.reports[i - 1]);
        if (tc.goBack) {
            // Taken back before the first row was written again, and nothing after.
            EXPECT_EQ(FOLLOW_WITHDRAWN, heard.reports.back());
            EXPECT_EQ(heard.rows[0], heard.firstRowAtWithdrawal);
            EXPECT_NE(heard.rows[0], Bytes(imageRow(&img, 0), imageRow(&img, 0) + 900));
            continue;
        }
        EXPECT_EQ(2000, heard.reports.back());
        // The record reported is the one the load returned, and every row
        // reported already held the bytes it ends with.
        EXPECT_EQ(img.pixels, heard.picture.pixels);
        EXPECT_EQ(img.kind, heard.picture.kind);
        EXPECT_EQ(img.stride, heard.picture.stride);
        EXPECT_EQ(img.width, heard.picture.width);
        ASSERT_EQ(2000u, heard.rows.size());
        for (int y = 0; y < 2000; ++y) {
            const uint8_t* p = imageRow(&img, y);
            ASSERT_EQ(Bytes(p, p + 900), heard.rows[y]) << "row " << y;
        }
    }
}

// A 24-bit JPEG of our own writer, and the same file cut in its middle.
Bytes jpegOf(int w, int h) {
    OwnedImage img;
    EXPECT_EQ(ST_OK, loadBytesAs("pnm", patternP6(w, h), &img));
    const std::string path = tempPath("follow.jpg");
    EXPECT_EQ(ST_OK, saveAs(&img, path, "jpeg", 0, 90));
    Bytes bytes;
    EXPECT_TRUE(readFile(path, &bytes));
    return bytes;
}

TEST(LoadFollower, FailedLoadTakesItsRowsBackBeforeFreeingThem) {
    const Bytes whole = jpegOf(640, 480);
    struct Case {
        const char* name;
        Bytes bytes;
        Status want;
    } cases[] = {
        {"whole", whole, ST_OK},
        {"cut in the middle", Bytes(whole.begin(), whole.begin() + whole.size() * 2 / 3), ST_READ_ERROR},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        Heard heard;
        OwnedImage img;
        setLoadFollower(hear, &heard);
        EXPECT_EQ(tc.want, loadBytesAs("jpeg", tc.bytes, &img));
        setLoadFollower(nullptr, nullptr);
        ASSERT_GE(heard.reports.size(), 2u);
        EXPECT_EQ(tc.want == ST_OK ? 480 : FOLLOW_WITHDRAWN, heard.reports.back());
        // Freeing the loaded picture later is no concern of the load.
        const size_t before = heard.reports.size();
        freeImage(&img);
        EXPECT_EQ(before, heard.reports.size());
    }
}

// A gate that lets rows through step at a time and may refuse after some.
struct StepGate {
    int32_t step, refuseAfter;
    std::vector<int32_t> asked;
};

int32_t stepGate(int32_t rows, void* datum) {
    StepGate* g = static_cast<StepGate*>(datum);
    g->asked.push_back(rows);
    if (g->refuseAfter > 0 && rows > g->refuseAfter) return -1;
    return rows + g->step - 1;
}

TEST(SaveGate, RowsAreReadOnlyOnceLetThrough) {
    OwnedImage img;
    ASSERT_EQ(ST_OK, loadBytesAs("pnm", patternP6(50, 40), &img));
    const std::string plain = tempPath("gate-plain"), gated = tempPath("gate");
    struct Case {
        const char* format;
        int32_t step, refuseAfter;
        Status want;
        size_t asks;        // times the gate is asked
        int32_t firstAsk;
    } cases[] = {
        {"pnm", 7, 0, ST_OK, 6, 1},          // rows 1, 8, 15, 22, 29, 36
        {"pnm", 1, 0, ST_OK, 40, 1},
        {"pnm", 7, 20, ST_STOPPED, 4, 1},    // 22 refused
        {"bmp", 1, 0, ST_OK, 1, 40},         // written bottom row first: the whole picture at once
        {"png", 16, 0, ST_OK, 3, 1},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(std::string(tc.format) + " step " + std::to_string(tc.step));
        ASSERT_EQ(ST_OK, saveAs(&img, plain, tc.format));
        StepGate gate{tc.step, tc.refuseAfter, {}};
        setSaveGate(stepGate, &gate);
        const Status st = saveAs(&img, gated, tc.format);
        setSaveGate(nullptr, nullptr);
        EXPECT_EQ(tc.want, st);
        ASSERT_EQ(tc.asks, gate.asked.size());
        EXPECT_EQ(tc.firstAsk, gate.asked[0]);
        if (st != ST_OK) continue;
        Bytes a, b;
        ASSERT_TRUE(readFile(plain, &a) && readFile(gated, &b));
        EXPECT_EQ(a, b);
    }
}

// kaleocmd's writer beside a real load: the file is the one written after
// the load, and a load that fails or goes back leaves the save unfinished.
TEST(SaveBeside, WritesTheFileOfTheWholePictureOrNothing) {
    const Bytes whole = jpegOf(640, 480);
    const std::string in = tempPath("beside.jpg");
    ASSERT_TRUE(writeFile(in, whole));
    OwnedImage ref;
    ASSERT_EQ(ST_OK, load(in, &ref));
    const std::string plain = tempPath("beside-plain.ppm");
    ASSERT_EQ(ST_OK, saveAs(&ref, plain, "pnm"));
    Bytes want;
    ASSERT_TRUE(readFile(plain, &want));

    struct Case {
        const char* name;
        Bytes bytes;
        bool written;
    } cases[] = {
        {"whole", whole, true},
        {"cut", Bytes(whole.begin(), whole.begin() + whole.size() / 2), false},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        const std::string out = tempPath("beside.ppm");
        remove(out.c_str());
        Status saved = ST_OK;
        OwnedImage img;
        SaveBeside beside([&](Image* picture) { return (saved = saveAs(picture, out, "pnm")) == ST_OK; });
        beside.attach();
        const Status loaded = loadBytesAs("jpeg", tc.bytes, &img);
        EXPECT_EQ(tc.written, beside.finish(loaded, img));
        EXPECT_TRUE(beside.started());
        if (tc.written) {
            Bytes got;
            ASSERT_TRUE(readFile(out, &got));
            EXPECT_EQ(want, got);
        } else {
            EXPECT_EQ(ST_STOPPED, saved);
        }
    }
    // A decoder that goes back takes the picture from the save: one that goes
    // back before its last row stops the save; one that goes back after it may
    // find the save done, and its file is still not the picture's.
    struct Back {
        int32_t at;           // the row count delivered before going back to row 0
        bool stopped;
    } backs[] = {{1500, true}, {2000, false}};
    for (const Back& b : backs) {
        SCOPED_TRACE("back at " + std::to_string(b.at));
        OwnedImage img;
        Status saved = ST_OK;
        std::atomic<bool> ended{false};
        SaveBeside beside([&](Image* picture) {
            saved = saveAs(picture, tempPath("back.ppm"), "pnm");
            ended = true;
            return saved == ST_OK;
        });
        beside.attach();
        IoOptions o = defaultIoOptions();
        Status st;
        {
            IoScope scope(&img, &o, nullptr, "back", false);
            RasterHeader h{};
            h.channels = 1;
            h.width = 300;
            h.height = 2000;
            h.planes = 1;
            h.bitsPerPlane = 24;
            st = beginImage(&h);
            for (int y = 0; st == ST_OK && y < b.at + 100; ++y) {
                const Bytes r = fileRow(900, y % b.at, y / b.at);
                memcpy(h.rowBuffer, r.data(), r.size());
                st = putRows(-1, y % b.at, 1);
            }
            // The save ends while the load still runs, not when it returns.
            for (int i = 0; b.stopped && !ended && i < 2000; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (b.stopped) EXPECT_TRUE(ended) << "the save still waits for rows taken back";
            endImage(0, 8, nullptr);
        }
        EXPECT_EQ(ST_OK, st);
        EXPECT_FALSE(beside.finish(st, img));
        EXPECT_TRUE(beside.started());
        if (b.stopped) EXPECT_EQ(ST_STOPPED, saved);
        else EXPECT_TRUE(saved == ST_OK || saved == ST_STOPPED) << saved;
    }
}

// kaleocmd on one file (written beside its load) gives the bytes it gives
// when it converts files side by side (written after the load), for formats
// written top row first or not; a cut file leaves nothing behind.
TEST(SaveBeside, KaleocmdOneFileMatchesSideBySideFiles) {
    const Bytes whole = jpegOf(640, 480);
    const std::string dir = tempPath("cmdbeside");
    ASSERT_EQ(0, run("mkdir -p " + dir + "/in " + dir + "/one " + dir + "/two " + dir + "/cut"));
    ASSERT_TRUE(writeFile(dir + "/in/a.jpg", whole));
    ASSERT_TRUE(writeFile(dir + "/in/b.jpg", whole));
    ASSERT_TRUE(writeFile(dir + "/in/c.jpg", Bytes(whole.begin(), whole.begin() + whole.size() / 2)));
    const std::vector<std::pair<std::string, std::string>> names = {
        {"KALEOCMD", std::string(KALEO_BUILD_DIR) + "/kaleocmd"}, {"DIR", dir}};
    for (const char* format : {"pnm", "png", "bmp", "tiff", "tga"}) {
        SCOPED_TRACE(format);
        const std::vector<std::pair<std::string, std::string>> f = {{"FMT", format}};
        ASSERT_EQ(0, run(shell(shell("KALEOCMD -quiet -overwrite -out FMT -o DIR/one/ DIR/in/a.jpg", names), f)));
        ASSERT_EQ(0, run(shell(shell("KALEOCMD -quiet -overwrite -j 2 -out FMT -o DIR/two/ DIR/in/a.jpg DIR/in/b.jpg",
                                     names), f)));
        EXPECT_EQ(0, run(shell("for f in DIR/one/a.*; do cmp \"$f\" DIR/two/\"${f##*/}\" || exit 1; done", names)));
        EXPECT_EQ(0, run(shell("rm -f DIR/one/* DIR/two/*", names)));
    }
    EXPECT_NE(0, run(shell("KALEOCMD -quiet -out pnm -o DIR/cut/ DIR/in/c.jpg", names)));
    EXPECT_EQ(0, run(shell("test -z \"$(ls -A DIR/cut)\"", names)));
}

}  // namespace
