// The identification matrix: every sample file we have (the fuzz seeds, made
// by our writers or by hand, and the independent files of ../shared/corpus) is
// recognised by the trial pass as its own format, and no other reader that
// takes part in the trial pass claims it. The long tail of formats, some
// recognised by little more than a size, must not steal files unnoticed.
#include <cstring>
#include <filesystem>
#include <map>

#include <gtest/gtest.h>

#include "testutil.h"

namespace {

using namespace testutil;
namespace fs = std::filesystem;

struct Sample {
    std::string path;
    int format;  // the registry index it belongs to
};

// Seeds are named after their format ("gif_binary.gif"); the bitmap seeds
// after their layout, with the bitmap extension. A seed named after a format
// and carrying one of that format's extensions is of that format, even when
// the extension is another format's name ("artdir_hand.art").
int seedFormat(const fs::path& p) {
    const std::string name = p.filename().string();
    const std::string ext = p.extension().string();
    const size_t cut = name.find('_');
    const int named = cut == std::string::npos ? -1 : findFormat(name.substr(0, cut).c_str());
    if (named >= 0 && ext.size() > 1) {
        const FormatRecord* r = formatRecord(named);
        for (int e = 0; e < MAX_EXTENSIONS && r->extensions[e]; ++e)
            if (ext.compare(1, std::string::npos, r->extensions[e]) == 0) return named;
    }
    if (ext.size() > 1 && findFormat(ext.c_str() + 1) >= 0) return findFormat(ext.c_str() + 1);
    return named;
}

std::vector<Sample> samples() {
    std::vector<Sample> out;
    for (const auto& e : fs::directory_iterator(std::string(KALEO_SOURCE_DIR) + "/fuzz/corpus")) {
        const int f = seedFormat(e.path());
        if (f >= 0) out.push_back({e.path().string(), f});
    }
    const fs::path corpus(KALEO_CORPUS_DIR);
    if (fs::is_directory(corpus)) {
        for (const auto& dir : fs::directory_iterator(corpus)) {
            if (!dir.is_directory()) continue;
            const int f = findFormat(dir.path().filename().string().c_str());
            if (f < 0) continue;
            for (const auto& e : fs::directory_iterator(dir.path())) {
                // Peers' decodes kept beside some samples are references, not samples.
                if (e.path().extension() == ".ppm" && dir.path().filename() != "pnm") continue;
                out.push_back({e.path().string(), f});
            }
        }
    }
    std::sort(out.begin(), out.end(), [](const Sample& a, const Sample& b) { return a.path < b.path; });
    return out;
}

// Loads the bytes of a file with no name to go by: only the trial pass.
Status loadByTrial(const std::vector<uint8_t>& bytes, int formatIndex, FileInfo* info) {
    FILE* f = fmemopen(const_cast<uint8_t*>(bytes.data()), bytes.size(), "rb");
    if (!f) return ST_CANNOT_OPEN;
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(formatIndex);
    OwnedImage img;
    Status st = loadImageFromStream(f, "noname", static_cast<int64_t>(bytes.size()), &img, &o, info);
    fclose(f);
    return st;
}

}  // namespace

TEST(Identification, EverySampleIsItsOwnFormatAndNoOtherReaderClaimsIt) {
    int checked = 0;
    for (const Sample& s : samples()) {
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(readFile(s.path, &bytes));
        if (bytes.empty()) continue;
        SCOPED_TRACE(s.path);
        const bool built = !formatReaderIsPlaceholder(s.format);
        FileInfo info{};
        const Status st = loadByTrial(bytes, -1, &info);
        if (built && formatRecord(s.format)->trial == 1) {
            // Recognised as its own format (a damaged sample may fail, but as itself).
            EXPECT_NE(st, ST_UNKNOWN_FORMAT);
            if (st != ST_UNKNOWN_FORMAT)
                EXPECT_STREQ(formatRecord(info.formatIndex)->shortName, formatRecord(s.format)->shortName);
        } else if (st != ST_UNKNOWN_FORMAT) {
            ADD_FAILURE() << "claimed by " << formatRecord(info.formatIndex)->shortName;
        }
        // No other trial reader claims it when asked directly.
        for (int i = 0; i < formatCount(); ++i) {
            const FormatRecord* r = formatRecord(i);
            if (i == s.format || r->trial != 1 || formatReaderIsPlaceholder(i)) continue;
            FileInfo other{};
            EXPECT_EQ(loadByTrial(bytes, i, &other), ST_UNKNOWN_FORMAT) << "claimed by " << r->shortName;
        }
        ++checked;
    }
    EXPECT_GT(checked, 100);
}
