// The table of the writers' option switches and its look-ups.
#include "writeoptions.h"

#include <cstdio>
#include <cstring>

namespace {

#define NO_CHOICES {nullptr}

const WriterOption OPTIONS[] = {
    {"jpeg", WRITER_SLOT_QUALITY, "quality", 0, 100, 100,
     "libjpeg quality with baseline tables (0 reads as 1)", "JpegQuality", "Qualité du JPEG", NO_CHOICES},
    {"jpeg", WRITER_SLOT_PROGRESSIVE, "progressive", 0, 1, 0, "progressive scans instead of one sequential scan",
     "JpegProgressive", "JPEG en progressif", NO_CHOICES},
    {"tga", WRITER_SLOT_COMPRESSION, "compression", 0, 1, 0, "run-length packets (image types 9, 10 and 11)",
     "TgaCompress", "TARGA en compressé", NO_CHOICES},
    {"soft", WRITER_SLOT_COMPRESSION, "compression", 0, 1, 1, "run-length packets", "SoftCompress",
     "Softimage en compressé", NO_CHOICES},
    {"sgi", WRITER_SLOT_COMPRESSION, "compression", 0, 1, 1, "run-length scanlines with their offset tables",
     "RgbCompress", "RGB en compressé", NO_CHOICES},
    {"tiff", WRITER_SLOT_COMPRESSION, "compression", TIFF_SAVE_NONE, TIFF_SAVE_LZW_PREDICTOR, TIFF_SAVE_NONE,
     "strip compression: none, PackBits, LZW, or LZW with horizontal differencing", "TiffCompress",
     "Option du TIFF", {"None", "Packbits", "LZW", "LZW+Predict.", nullptr}},
    {"bmp", WRITER_SLOT_COMPRESSION, "compression", 0, 1, 0, "run-length encoding of 4- and 8-bit pictures",
     "BmpCompress", "Windows en Rle (4,8 bits)", NO_CHOICES},
    {"iff", WRITER_SLOT_COMPRESSION, "compression", 0, 1, 0, "ByteRun1 (PackBits) rows in the BODY chunk",
     "IffCompress", "IFF/LBM en compressé", NO_CHOICES},
    {"png", WRITER_SLOT_QUALITY, "quality", 0, 100, 60, "zlib level: quality / 10, at most 9", "PngQuality",
     "Qualité du PNG", NO_CHOICES},
    {"gif", WRITER_SLOT_PROGRESSIVE, "interlaced", 0, 1, 0, "rows stored in the four interlaced passes",
     "GifInterlaced", "GIF en entrelacé", NO_CHOICES},
    {"pcx", WRITER_SLOT_COMPRESSION, "compression", 0, 1, 0, "run-length encoded rows (encoding byte 1)",
     "PcxCompress", "PCX en compressé", NO_CHOICES},
};

#undef NO_CHOICES

}  // namespace

const WriterOption* writerOptions(size_t* count) {
    *count = sizeof OPTIONS / sizeof OPTIONS[0];
    return OPTIONS;
}

const WriterOption* findWriterOption(const char* format, int slot) {
    if (!format) return nullptr;
    for (const WriterOption& o : OPTIONS)
        if (o.slot == slot && strcmp(o.format, format) == 0) return &o;
    return nullptr;
}

const WriterOption* writerOptionOfSetting(const char* key) {
    if (!key) return nullptr;
    for (const WriterOption& o : OPTIONS)
        if (o.settingsKey && strcmp(o.settingsKey, key) == 0) return &o;
    return nullptr;
}

bool writerOptionInRange(const WriterOption& option, int32_t value) {
    return value >= option.minimum && value <= option.maximum;
}

int16_t writerSlotValue(const IoOptions& options, int slot) {
    switch (slot) {
    case WRITER_SLOT_COMPRESSION: return options.writerOption1;
    case WRITER_SLOT_QUALITY: return options.writerOption2;
    case WRITER_SLOT_PROGRESSIVE: return options.writerOption3;
    }
    return 0;
}

void setWriterSlot(IoOptions* options, int slot, int16_t value) {
    switch (slot) {
    case WRITER_SLOT_COMPRESSION: options->writerOption1 = value; break;
    case WRITER_SLOT_QUALITY: options->writerOption2 = value; break;
    case WRITER_SLOT_PROGRESSIVE: options->writerOption3 = value; break;
    }
}

void clearWriterSlots(IoOptions* options) {
    options->writerOption1 = WRITER_UNUSED_COMPRESSION;
    options->writerOption2 = WRITER_UNUSED_QUALITY;
    options->writerOption3 = WRITER_UNUSED_PROGRESSIVE;
}

size_t writerRangeMessage(const WriterOption& option, const char* flag, int32_t value, char* text, size_t size) {
    if (!text || size == 0) return 0;
    char via[16] = "";
    if (flag && *flag) snprintf(via, sizeof via, " (%s)", flag);
    int n = snprintf(text, size, "%s %s%s takes %d to %d, not %ld", option.format, option.name, via,
                     static_cast<int>(option.minimum), static_cast<int>(option.maximum), static_cast<long>(value));
    if (n < 0) return 0;
    return static_cast<size_t>(n) < size ? static_cast<size_t>(n) : size - 1;
}
