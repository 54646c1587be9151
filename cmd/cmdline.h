// kaleocmd's command line: the one-line scripts the viewer exports, plus the
// converter's own switches. Parsing and naming know nothing of files.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "optable.h"

struct CmdJob {
    // Reading options of the exported scripts.
    int16_t pcdBase = 0;          // -npcd: Photo CD resolution (reader parameter 1)
    int32_t rawWidth = 0;         // -size WxH+OFFSET: headerless geometry
    int32_t rawHeight = 0;
    int32_t rawOffset = 0;
    int16_t channelType = 1;      // -ctype: 0 grey, 1 RGB, 2 BGR, 3 RGBA, 4 ABGR, 5 CMY, 6 CMYK
    int16_t channelOrder = 0;     // -corder: 0 interleaved, 1 row separate, 2 plane separate
    int inFormat = -1;            // -in
    bool sequence = false;        // -n START END STEP
    int seqStart = 0, seqEnd = 0, seqStep = 1;
    int outFormat = -1;           // -out
    bool deleteOriginal = false;  // -D
    std::string dest;             // -o
    std::vector<OpInstance> ops;  // in command-line order
    int conversionCode = 0;       // -conv: the viewer's conversion code (1..32) for pictures the format refuses
    std::vector<std::string> sources;

    // The converter's own switches.
    bool help = false, info = false, list = false;
    bool check = false;           // -check: decode (and apply the operations) without writing
    int quality = -1;             // -q
    int compression = -1;         // -c
    bool interlace = false;       // -i
    int page = 0;                 // -page (0 = first)
    bool allPages = false;        // -xall
    bool verbose = false, progress = false, overwrite = false, quiet = false;
    int threads = 0;              // -j, 0 = every core
    int32_t thumbWidth = 0;       // -thumb WxH: bounded (thumbnail) loading
    int32_t thumbHeight = 0;
    bool seedSet = false;
    uint32_t seed = 0;            // -seed
    bool json = false;            // -json: one JSON object per file on standard output
    bool resume = false;          // -resume: skip inputs whose output is newer
    std::string listFile;         // -@ FILE ("-" = standard input): more inputs, one per line
    bool listNul = false;         // -0: the list is NUL-separated
    uint64_t pixelLimit = 0;      // -limit: most pixels a picture may have, 0 = the library's
    int helpFormat = -1;          // -help FORMAT
    std::string script;           // -script FILE: run the kaleocmd lines of a script
};

// Parses argv[1..argc-1]. On failure returns false with a one-line reason.
bool parseCommandLine(int argc, const char* const* argv, CmdJob* job, std::string* error);

// Looks a format up by its short name or one of its extensions, ignoring case;
// with forWriting, only formats with a writer match an extension. -1 when unknown.
int lookupFormat(const std::string& name, bool forWriting);

// The writable formats' short names, separated by spaces.
std::string writableFormats();

// Splits a line of a script into words: blanks separate, double or single
// quotes group (a double-quoted word takes \" and \\), a line whose first
// non-blank character is '#' is a comment (no words), a CR before the line end
// is dropped. False with a reason on an unterminated quote.
bool splitScriptLine(const std::string& line, std::vector<std::string>* words, std::string* error);

// Writes the job back as the viewer's exporter writes it ("kaleocmd -out bmp ... files").
std::string formatScript(const CmdJob& job);

// Sequence naming: the first run of '#' is the number padded with zeros to the
// run's length; a pattern without '#' gets the number appended.
std::string sequenceName(const std::string& pattern, int number);

// The text kaleocmd -help prints.
std::string helpText();
// What kaleocmd -help FORMAT prints: extensions, kinds written, writer options, limitations.
std::string formatHelpText(int formatIndex);
