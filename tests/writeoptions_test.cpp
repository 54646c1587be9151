// The writer option table against the writers themselves: every option's
// minimum, default and maximum makes a file that reads back as the picture,
// the two ends make different files (the writer reads that slot), and the
// look-ups and range messages answer from the same rows.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "testpictures.h"
#include "testutil.h"
#include "writeoptions.h"

using namespace testutil;

namespace {

// Runs of 4 pixels in 16 colours, so that every run-length coder has work.
uint8_t runs(int x, int y, int c) { return static_cast<uint8_t>(((x / 4 + y) % 16) * 16 + c * 5); }

// A 37 x 11 picture the format takes: 16-colour palette when it can, else RGB.
bool makePalette(Image* image) {
    if (!testpictures::makePicture(image, IMG_PALETTE, 37, 11, [](int x, int y, int) { return runs(x, y, 0) / 16; }))
        return false;
    image->colours = 16;
    image->orientation = 0;
    return true;
}

bool makeFor(int format, OwnedImage* image) {
    bool palette = false;
    {
        OwnedImage probe;
        const WriteVariant* variant = nullptr;
        palette = makePalette(&probe) && findWriteVariant(format, &probe, &variant);
    }
    if (palette) return makePalette(image);
    if (!testpictures::makePicture(image, IMG_RGB, 37, 11, runs)) return false;
    image->orientation = 0;
    return true;
}

struct Written {
    Status status = ST_OK;
    std::vector<uint8_t> bytes;
};

Written writeWith(int format, const Image& image, WriterSlot slot, int16_t value, const std::string& name) {
    Written w;
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(format);
    clearWriterSlots(&o);
    setWriterSlot(&o, slot, value);
    std::string path = tempPath(name);
    char buf[FILE_NAME_LEN];
    snprintf(buf, sizeof buf, "%s", path.c_str());
    w.status = saveImage(buf, const_cast<Image*>(&image), &o);
    if (w.status == ST_OK) readFile(path, &w.bytes);
    return w;
}

bool lossy(const WriterOption& o) { return strcmp(o.format, "jpeg") == 0; }

}  // namespace

TEST(WriterOptions, EveryValueOfTheTableWritesAndReadsBack) {
    size_t count = 0;
    const WriterOption* options = writerOptions(&count);
    ASSERT_GT(count, 0u);
    std::set<std::string> unwritable;
    for (size_t i = 0; i < count; ++i) {
        const WriterOption& o = options[i];
        SCOPED_TRACE(std::string(o.format) + " " + o.name);
        const int format = findFormat(o.format);
        ASSERT_GE(format, 0) << "not a registry short name";
        OwnedImage image;
        ASSERT_TRUE(makeFor(format, &image));
        const Rgb original = toRgb(image);
        std::vector<uint8_t> atMinimum, atMaximum;
        for (int16_t value : {o.minimum, o.defaultValue, o.maximum}) {
            SCOPED_TRACE(value);
            std::string name = std::string("wopt_") + o.format + "_" + o.name + "_" + std::to_string(value);
            Written w = writeWith(format, image, o.slot, value, name);
            if (w.status == ST_NO_WRITER) {
                unwritable.insert(o.format);  // the registry has no writer for it yet
                break;
            }
            ASSERT_EQ(w.status, ST_OK);
            OwnedImage back;
            ASSERT_EQ(load(tempPath(name), &back), ST_OK);
            Rgb decoded = toRgb(back);
            ASSERT_EQ(decoded.width, original.width);
            ASSERT_EQ(decoded.height, original.height);
            if (!lossy(o)) EXPECT_EQ(compareRgb(decoded, original), 0);
            if (value == o.minimum) atMinimum = w.bytes;
            if (value == o.maximum) atMaximum = w.bytes;
        }
        if (unwritable.count(o.format)) continue;
        EXPECT_NE(atMinimum, atMaximum) << "the writer ignores its slot " << static_cast<int>(o.slot);
    }
    // Only formats whose writer is still to come may be skipped.
    for (const std::string& f : unwritable) EXPECT_EQ(f, "soft");
}

TEST(WriterOptions, JpegQualityOrdersTheError) {
    const WriterOption* q = findWriterOption("jpeg", WRITER_SLOT_QUALITY);
    ASSERT_NE(q, nullptr);
    const int format = findFormat("jpeg");
    OwnedImage image;
    ASSERT_TRUE(testpictures::makePhoto(&image, 48, 32));
    const Rgb original = toRgb(image);
    long previous = -1;
    for (int16_t value : {q->maximum, q->defaultValue, static_cast<int16_t>(30), q->minimum}) {
        std::string name = "wopt_jpeg_err_" + std::to_string(value);
        ASSERT_EQ(writeWith(format, image, WRITER_SLOT_QUALITY, value, name).status, ST_OK);
        OwnedImage back;
        ASSERT_EQ(load(tempPath(name), &back), ST_OK);
        Rgb decoded = toRgb(back);
        long error = 0;
        for (size_t k = 0; k < decoded.pixels.size(); ++k) error += std::abs(decoded.pixels[k] - original.pixels[k]);
        EXPECT_GE(error, previous) << value;
        previous = error;
    }
}

TEST(WriterOptions, RowsAreWellFormed) {
    size_t count = 0;
    const WriterOption* options = writerOptions(&count);
    std::set<std::pair<std::string, int>> seen;
    std::set<std::string> keys;
    for (size_t i = 0; i < count; ++i) {
        const WriterOption& o = options[i];
        SCOPED_TRACE(o.format);
        EXPECT_TRUE(seen.insert({o.format, o.slot}).second) << "one option per slot";
        EXPECT_GE(o.slot, 1);
        EXPECT_LE(o.slot, WRITER_SLOT_COUNT);
        EXPECT_LE(o.minimum, o.defaultValue);
        EXPECT_LE(o.defaultValue, o.maximum);
        EXPECT_TRUE(writerOptionInRange(o, o.minimum));
        EXPECT_TRUE(writerOptionInRange(o, o.maximum));
        EXPECT_FALSE(writerOptionInRange(o, o.minimum - 1));
        EXPECT_FALSE(writerOptionInRange(o, o.maximum + 1));
        EXPECT_EQ(findWriterOption(o.format, o.slot), &o);
        ASSERT_NE(o.settingsKey, nullptr);
        EXPECT_TRUE(keys.insert(o.settingsKey).second);
        EXPECT_EQ(writerOptionOfSetting(o.settingsKey), &o);
        // A list names every value from the minimum to the maximum.
        int names = 0;
        while (names < WRITER_OPTION_MAX_CHOICES && o.choices[names]) ++names;
        if (names) EXPECT_EQ(names, o.maximum - o.minimum + 1);
    }
    EXPECT_EQ(findWriterOption("pnm", WRITER_SLOT_COMPRESSION), nullptr);
    EXPECT_EQ(findWriterOption("jpeg", WRITER_SLOT_COMPRESSION), nullptr);
    EXPECT_EQ(findWriterOption(nullptr, WRITER_SLOT_QUALITY), nullptr);
    EXPECT_EQ(writerOptionOfSetting("NoSuchKey"), nullptr);
}

TEST(WriterOptions, SlotsAndRangeMessages) {
    IoOptions o = defaultIoOptions();
    clearWriterSlots(&o);
    EXPECT_EQ(writerSlotValue(o, WRITER_SLOT_COMPRESSION), WRITER_UNUSED_COMPRESSION);
    EXPECT_EQ(writerSlotValue(o, WRITER_SLOT_QUALITY), WRITER_UNUSED_QUALITY);
    EXPECT_EQ(writerSlotValue(o, WRITER_SLOT_PROGRESSIVE), WRITER_UNUSED_PROGRESSIVE);
    const struct {
        int slot;
        int16_t* field;
    } slots[] = {{1, &o.writerOption1}, {2, &o.writerOption2}, {3, &o.writerOption3}};
    for (const auto& s : slots) {
        setWriterSlot(&o, s.slot, static_cast<int16_t>(40 + s.slot));
        EXPECT_EQ(*s.field, 40 + s.slot);
        EXPECT_EQ(writerSlotValue(o, s.slot), 40 + s.slot);
    }
    IoOptions before = o;
    setWriterSlot(&o, 4, 99);
    setWriterSlot(&o, 0, 99);
    EXPECT_EQ(memcmp(&before, &o, sizeof o), 0);

    char text[80];
    const WriterOption* tiff = findWriterOption("tiff", WRITER_SLOT_COMPRESSION);
    ASSERT_NE(tiff, nullptr);
    writerRangeMessage(*tiff, "-c", 7, text, sizeof text);
    EXPECT_STREQ(text, "tiff compression (-c) takes 0 to 3, not 7");
    writerRangeMessage(*findWriterOption("jpeg", WRITER_SLOT_QUALITY), nullptr, -2, text, sizeof text);
    EXPECT_STREQ(text, "jpeg quality takes 0 to 100, not -2");
    char small[6] = "xxxxx";
    EXPECT_EQ(writerRangeMessage(*tiff, "-c", 7, small, 5), 4u);
    EXPECT_STREQ(small, "tiff");
}
