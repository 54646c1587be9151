// The batch conversions without windows: numbered names, where each file of
// a run goes and which files may not be written, the conversion code a
// format can take, converting one file (load, the job list, the conversion,
// the save under a temporary name), and the one-line kaleocmd script that
// does the same job.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "optable.h"

// Longest path the viewer handles (its buffers hold 258 characters).
constexpr size_t BATCH_MAX_PATH = 258;

// ---- Numbered names ----

// The name of number n in a pattern: the first run of "#" is the number
// padded with zeros to the run's length (a wider number is written whole);
// a pattern without "#" gets the number before its extension ("img" gives
// "img7", "img.bmp" gives "img7.bmp").
std::string sequenceFileName(const std::string& pattern, int number);
// The same pattern with its "#" run made explicit: a pattern without "#"
// gets one where sequenceFileName puts the number.
std::string markedPattern(const std::string& pattern);

// ---- Destinations ----

// A folder with a final separator ("\" unless it already ends with "\" or "/").
std::string withSeparator(const std::string& folder);
// The folder part of a path, with its final separator ("" for a bare name).
std::string folderOfPath(const std::string& path);
std::string nameOfPath(const std::string& path);
// A file name without its extension; an extension of digits only is a
// number (scan.001) and stays, so that numbered files keep their numbers.
std::string nameWithoutExtension(const std::string& name);
// A name with its extension replaced by ext (ext without the dot).
std::string replaceExtension(const std::string& path, const char* ext);
// The extension a save in the format gives the picture: that of the write
// variant that takes it, else the format's first.
const char* outputExtension(int formatIndex, const Image* image);
// The longest extension the format's outputs may get, dot included.
size_t longestOutputExtension(int formatIndex);

enum BatchRefusal {
    BATCH_GO = 0,
    BATCH_NAME_TOO_LONG,    // the destination would exceed BATCH_MAX_PATH characters
    BATCH_SAME_OUTPUT,      // an earlier file of the run goes to the same name
    BATCH_REPLACES_INPUT,   // the destination is another file of the run
};

struct BatchItem {
    std::string source;  // as listed
    std::string stem;    // destination without its extension
    BatchRefusal refusal = BATCH_GO;
    int earlier = -1;    // BATCH_SAME_OUTPUT, BATCH_REPLACES_INPUT: the other file's position
};

// Where each source of a multiple conversion goes: destFolder, or the file's
// own folder when empty, + its name without extension. Names are compared
// as Windows compares them (case and "." / ".." ignored).
std::vector<BatchItem> planMultiple(const std::vector<std::string>& sources, const std::string& destFolder,
                                    int formatIndex);

// Whether the file written and the original are one file: the same path
// ignoring case, or (for library paths) the same device and inode.
bool sameOriginal(const std::string& windowsA, const std::string& windowsB, const std::string& unixA,
                  const std::string& unixB);

// ---- Conversion codes ----

// Whether the picture that code (1..32) makes is one that the format writes.
bool codeFitsFormat(int formatIndex, int code);
// The conversion kaleocmd picks by itself for a picture the format refuses,
// as a code, or 0 when the format takes the picture as it is.
int automaticCode(int formatIndex, const Image* image);

// ---- Converting one file ----

// Asked when the format refuses the picture: returns a code 1..32, or 0 to stop.
typedef int (*ChooseCode)(void* datum, const Image* image);

struct BatchFile {
    std::string source;         // library path
    std::string stem;           // library path of the destination without extension
    int formatIndex = -1;
    IoOptions load{};           // the viewer's load options (no progress)
    IoOptions save{};           // writer switches; flags and the format index are set here
    const std::vector<OpInstance>* ops = nullptr;
    bool replaceExisting = false;
    bool deleteOriginal = false;
    ChooseCode choose = nullptr;
    void* chooseDatum = nullptr;
};

enum BatchStep {
    STEP_DONE,            // written (and the original deleted when asked)
    STEP_LOAD_FAILED,     // status: the loader's
    STEP_OP_FAILED,       // an operation of the job list failed
    STEP_CANCELLED,       // no conversion code chosen
    STEP_CONVERT_FAILED,  // "Error converting picture !!"
    STEP_EXISTS,          // the destination exists and may not be replaced
    STEP_SAVE_FAILED,     // status: the writer's
};

struct BatchResult {
    BatchStep step = STEP_DONE;
    Status status = ST_OK;
    std::string output;        // library path written (or refused)
    std::string readerMessage;
    bool deleteFailed = false;
    int code = 0;              // the conversion code used, 0 when none
};

// Loads, applies the job list, converts when the format refuses the picture
// (a fixed-size variant resizes it), writes under a temporary name beside
// the destination and renames it into place only when complete, and
// deletes the original once written, never when it is the output.
BatchResult convertBatchFile(const BatchFile& file);

// ---- Script export ----

struct ScriptJob {
    bool sequence = false;
    int pcdBase = 0;
    int rawWidth = 0, rawHeight = 0, rawOffset = 0;
    int channelType = 0, channelOrder = 0;
    int inFormat = -1;          // sequence: -1 automatic
    int seqStart = 0, seqEnd = 0, seqStep = 1;
    int outFormat = -1;
    bool deleteOriginal = false;
    std::string dest;           // multiple: folder; sequence: folder + pattern (empty: none)
    std::vector<OpInstance> ops;
    std::vector<std::string> sources;  // multiple: the files; sequence: folder + pattern
    // Writer switches the save uses (-c, -q, -i), -1 when the format reads none.
    int compression = -1, quality = -1, progressive = -1;
    int conversionCode = 0;     // the remembered code (-conv), 0 none
};

// Fills the job's writer switches from a save's options: each slot that the
// output format's writer reads.
void scriptWriterSwitches(const IoOptions& save, ScriptJob* job);

// The whole line, ending with a line break; empty when there is no source.
std::string exportScript(const ScriptJob& job);
