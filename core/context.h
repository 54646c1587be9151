// The per-thread state of the one load or save in progress. Only the core,
// the registry and tests include this header; codecs go through codec.h.
#pragma once
#include "kaleocore.h"

struct IoContext {
    IoOptions options;
    const char* fileName;   // the name being loaded or saved, for traces
    Image* image;           // the image being built (load) or saved (save)
    FileInfo* info;         // filled by beginImage when not null
    bool examine;           // examination only: beginImage stops with ST_INFO_ONLY
    bool stop;              // the progress callback asked to stop
    int64_t fileSize;       // bytes of the file being read, 0 when unknown
    uint32_t maxRatio;      // the reading format's RATIO_*
};

// The calling thread's context: one load or save at a time per thread.
IoContext& ioContext();

// Releases whatever conversion buffers a codec left behind (a decoder that
// returned an error after beginImage without endImage, an encoder that forgot
// endWrite). Safe to call when nothing is in progress.
void abandonConversion();

// Sets the context up for one operation and clears it afterwards.
class IoScope {
public:
    IoScope(Image* image, const IoOptions* options, FileInfo* info, const char* fileName, bool examine);
    ~IoScope();
    IoScope(const IoScope&) = delete;
    IoScope& operator=(const IoScope&) = delete;
};

// Removes the extension of a file name (the text from the last dot, unless the
// dot starts the base name or is followed by a digit) and appends "." and ext;
// a null ext leaves the name without one. name holds FILE_NAME_LEN bytes.
void setFileExtension(char* name, const char* ext);

// The quarter turn a save's flags ask for: 1 clockwise, -1 anticlockwise, 0 none.
inline int saveTurn(uint16_t flags) {
    const uint16_t turn = flags & (OPT_TURN_RIGHT | OPT_TURN_LEFT);
    return turn == OPT_TURN_RIGHT ? 1 : turn == OPT_TURN_LEFT ? -1 : 0;
}
