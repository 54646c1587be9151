// The switches that writers read from a save's writerOption1..3: one fixed
// table of every such option with its range, its default, what it means, and
// the settings key and French label under which the viewer offers it. The
// viewer's save pipeline fills the options from it by the format's short
// name, and kaleocmd checks its -c, -q and -i values against it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "kaleocore.h"

// The three option fields of IoOptions and SaveRequest.
enum WriterSlot : uint8_t {
    WRITER_SLOT_COMPRESSION = 1,  // writerOption1
    WRITER_SLOT_QUALITY = 2,      // writerOption2
    WRITER_SLOT_PROGRESSIVE = 3,  // writerOption3: progressive or interlaced output
};
constexpr int WRITER_SLOT_COUNT = 3;

// What a save carries in a slot whose writer reads nothing there.
constexpr int16_t WRITER_UNUSED_COMPRESSION = 0;
constexpr int16_t WRITER_UNUSED_QUALITY = 100;
constexpr int16_t WRITER_UNUSED_PROGRESSIVE = 0;

// The TIFF writer's compression modes (writerOption1).
enum TiffSaveMode : int16_t {
    TIFF_SAVE_NONE = 0,
    TIFF_SAVE_PACKBITS = 1,
    TIFF_SAVE_LZW = 2,
    TIFF_SAVE_LZW_PREDICTOR = 3,  // LZW with horizontal differencing
};

constexpr int WRITER_OPTION_MAX_CHOICES = 4;

struct WriterOption {
    const char* format;       // registry short name
    WriterSlot slot;
    const char* name;         // "compression", "quality", "progressive", "interlaced"
    int16_t minimum;
    int16_t maximum;
    int16_t defaultValue;     // also the viewer's default for its settings key
    const char* meaning;      // in English
    const char* settingsKey;  // [Save] key of kaleos.ini
    const char* label;        // the viewer's French label (UTF-8), null when it shows none
    // Names of the values minimum..maximum of an option that chooses between
    // modes (null-terminated, as the viewer's list shows them); null otherwise.
    const char* choices[WRITER_OPTION_MAX_CHOICES + 1];
};

// The whole table, in registry order of the formats.
const WriterOption* writerOptions(size_t* count);
// The option of a format (by short name) in a slot, or null when its writer
// reads nothing there.
const WriterOption* findWriterOption(const char* format, int slot);
// The option whose settings key is key, or null.
const WriterOption* writerOptionOfSetting(const char* key);
bool writerOptionInRange(const WriterOption& option, int32_t value);

// The value of a slot in IoOptions; setWriterSlot ignores a slot outside 1..3.
int16_t writerSlotValue(const IoOptions& options, int slot);
void setWriterSlot(IoOptions* options, int slot, int16_t value);
// Puts the value that a save carries where its writer reads nothing into
// every slot (compression 0, quality 100, progressive 0).
void clearWriterSlots(IoOptions* options);

// The refusal of an out-of-range value, for example
// "jpeg quality (-q) takes 0 to 100, not 120"; `flag` may be null. Returns
// the length written (at most size - 1).
size_t writerRangeMessage(const WriterOption& option, const char* flag, int32_t value, char* text, size_t size);
