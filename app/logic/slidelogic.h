// The slide show without windows: its options, the ".sld" slide-show file
// (reading and writing) and the choice of the next file to show.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Option flags of a show (low byte, then high byte).
constexpr uint16_t SLIDE_TIMER = 0x0001;        // advance on a timer
constexpr uint16_t SLIDE_LOOP = 0x0002;
constexpr uint16_t SLIDE_FULL_SCREEN = 0x0004;
constexpr uint16_t SLIDE_FIT_LARGER = 0x0008;   // fit images at least as large as the screen
constexpr uint16_t SLIDE_FIT_ALL = 0x0010;      // fit every image
constexpr uint16_t SLIDE_CENTRE = 0x0020;
constexpr uint16_t SLIDE_NO_TITLE = 0x0040;
constexpr uint16_t SLIDE_SKIP_ERRORS = 0x0080;  // unreadable files skipped without a message
constexpr uint16_t SLIDE_HIDE_MOUSE = 0x0100;
constexpr uint16_t SLIDE_RANDOM = 0x0200;

constexpr int SLIDE_TIMER_MIN = 1;
constexpr int SLIDE_TIMER_MAX = 3600;
constexpr size_t SLIDE_LINE_MAX = 512;   // a line longer than this is not a slide-show line
constexpr size_t SLIDE_KEY_MAX = 32;
constexpr size_t SLIDE_PATH_MAX = 258;

struct SlideList {
    uint16_t flags = SLIDE_NO_TITLE | SLIDE_SKIP_ERRORS;
    int timerSeconds = 1;
    std::vector<std::string> files;
};

extern const char SLIDE_HEADER[];  // "# Slide Show Sequence"

// The options a file starts from before its lines are read: timer off, one
// second, no title bar, unreadable files skipped, everything else off.
SlideList defaultSlideList();

// Reads the text of a ".sld" file. Returns false (and the defaults with no
// file) when its first line does not start with the header. A file line is
// the text between the opening double quote and the last double quote of the
// line; a line without a closing quote, an empty name or a name longer than a
// path may be is skipped. Other lines are "Key = number"; unknown keys, keys
// of more than 32 characters and lines longer than 512 bytes are ignored. The
// interval is kept within 1 to 3600 seconds.
bool parseSlideText(const char* text, size_t size, SlideList* out);

// The text of a ".sld" file for the list (lines end with "\r\n").
std::string slideFileText(const SlideList& list);

// "name" with ".sld" appended when its file name has no extension.
std::string withSlideExtension(const std::string& name);

// ---- Choosing the file to show ----

struct SlideCursor {
    int index = -1;               // the file shown, -1 before the first
    std::vector<uint8_t> marks;   // random order: files already shown
};

// Moves to the next file in `direction` (-1 back, 0 or +1 forward) among
// `count` files. randomValue feeds the random choice (random order only).
// Returns the index of the file to show, or -1 when the show ends (it left
// the list without loop, or the list is empty).
int nextSlide(SlideCursor* cursor, int count, uint16_t flags, int direction, uint32_t randomValue);

// ---- Geometry ----

struct SlideRect {
    int32_t left, top, width, height;
};

// Where the image (imageW x imageH) shows in a client area (clientW x clientH)
// of a screen (screenW x screenH): fitted with its aspect ratio for "fit all",
// or for "fit larger" when it is at least as wide or as high as the screen;
// 1:1 otherwise; always centred (negative offsets when larger than the area).
SlideRect slideImageRect(int32_t imageW, int32_t imageH, int32_t clientW, int32_t clientH, int32_t screenW,
                         int32_t screenH, uint16_t flags);
