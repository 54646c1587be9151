// Slide-show files and the order of the slides.
#include "slidelogic.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "viewlayout.h"

const char SLIDE_HEADER[] = "# Slide Show Sequence";

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// "Key = number": the key up to 32 characters, then "=" between optional
// blanks, then a decimal number (its sign allowed). False for anything else.
bool parseKeyLine(const std::string& line, std::string* key, long* value) {
    size_t i = 0;
    while (i < line.size() && isBlank(line[i])) ++i;
    size_t start = i;
    while (i < line.size() && !isBlank(line[i]) && line[i] != '=') ++i;
    if (i == start || i - start > SLIDE_KEY_MAX) return false;
    *key = line.substr(start, i - start);
    while (i < line.size() && isBlank(line[i])) ++i;
    if (i >= line.size() || line[i] != '=') return false;
    ++i;
    while (i < line.size() && isBlank(line[i])) ++i;
    if (i >= line.size()) return false;
    const char* begin = line.c_str() + i;
    char* end = nullptr;
    errno = 0;
    long v = strtol(begin, &end, 10);
    if (end == begin) return false;
    if (errno == ERANGE) v = v < 0 ? INT_MIN : INT_MAX;
    *value = v;
    return true;
}

void applyKey(const std::string& key, long value, SlideList* out) {
    auto set = [&](uint16_t flag, bool on) {
        if (on) out->flags |= flag;
        else out->flags &= static_cast<uint16_t>(~flag);
    };
    if (key == "Timer") {
        if (value < SLIDE_TIMER_MIN) value = SLIDE_TIMER_MIN;
        if (value > SLIDE_TIMER_MAX) value = SLIDE_TIMER_MAX;
        out->timerSeconds = static_cast<int>(value);
        set(SLIDE_TIMER, true);
    } else if (key == "FullScreen") {
        if (value) set(SLIDE_FULL_SCREEN, true);
    } else if (key == "CenterWindow") {
        if (value) set(SLIDE_CENTRE, true);
    } else if (key == "Loop") {
        if (value) set(SLIDE_LOOP, true);
    } else if (key == "RandomOrder") {
        if (value) set(SLIDE_RANDOM, true);
    } else if (key == "HideMouse") {
        if (value) set(SLIDE_HIDE_MOUSE, true);
    } else if (key == "TitleBar") {
        set(SLIDE_NO_TITLE, value == 0);
    } else if (key == "ReadErrors") {
        set(SLIDE_SKIP_ERRORS, value == 0);
    } else if (key == "View") {
        set(SLIDE_FIT_LARGER, value == 1);
        set(SLIDE_FIT_ALL, value == 2);
    }
}

void readLine(const std::string& line, SlideList* out) {
    if (line.empty()) return;
    if (line[0] == '"') {
        size_t close = line.find_last_of('"');
        if (close == 0) return;  // no closing quote
        size_t length = close - 1;
        if (length == 0 || length > SLIDE_PATH_MAX) return;
        out->files.push_back(line.substr(1, length));
        return;
    }
    std::string key;
    long value = 0;
    if (parseKeyLine(line, &key, &value)) applyKey(key, value, out);
}

}  // namespace

SlideList defaultSlideList() { return SlideList(); }

bool parseSlideText(const char* text, size_t size, SlideList* out) {
    *out = defaultSlideList();
    if (!text) return false;
    size_t pos = 0;
    bool first = true;
    while (pos < size) {
        size_t end = pos;
        while (end < size && text[end] != '\n') ++end;
        size_t length = end - pos;
        if (length > 0 && text[pos + length - 1] == '\r') --length;
        // Lines of up to 512 bytes with their line end; longer ones are not ours.
        bool tooLong = end - pos + 1 > SLIDE_LINE_MAX;
        std::string line(text + pos, length);
        if (!tooLong && line.find('\0') != std::string::npos) tooLong = true;
        if (first) {
            if (tooLong || line.compare(0, strlen(SLIDE_HEADER), SLIDE_HEADER) != 0) return false;
            first = false;
        } else if (!tooLong) {
            readLine(line, out);
        }
        pos = end + 1;
    }
    return !first;
}

std::string slideFileText(const SlideList& list) {
    std::string s = std::string(SLIDE_HEADER) + "\r\n";
    auto line = [&](const char* key, int value) { s += std::string(key) + " = " + std::to_string(value) + "\r\n"; };
    if (list.flags & SLIDE_TIMER) line("Timer", list.timerSeconds);
    line("Loop", (list.flags & SLIDE_LOOP) ? 1 : 0);
    line("FullScreen", (list.flags & SLIDE_FULL_SCREEN) ? 1 : 0);
    line("TitleBar", (list.flags & SLIDE_NO_TITLE) ? 0 : 1);
    line("View", (list.flags & SLIDE_FIT_ALL) ? 2 : (list.flags & SLIDE_FIT_LARGER) ? 1 : 0);
    line("CenterWindow", (list.flags & SLIDE_CENTRE) ? 1 : 0);
    line("ReadErrors", (list.flags & SLIDE_SKIP_ERRORS) ? 0 : 1);
    line("HideMouse", (list.flags & SLIDE_HIDE_MOUSE) ? 1 : 0);
    line("RandomOrder", (list.flags & SLIDE_RANDOM) ? 1 : 0);
    for (const std::string& f : list.files) s += "\"" + f + "\"\r\n";
    return s;
}

std::string withSlideExtension(const std::string& name) {
    size_t slash = name.find_last_of("\\/:");
    size_t base = slash == std::string::npos ? 0 : slash + 1;
    if (name.find('.', base) != std::string::npos) return name;
    return name + ".sld";
}

int nextSlide(SlideCursor* cursor, int count, uint16_t flags, int direction, uint32_t randomValue) {
    if (count <= 0) return -1;
    bool random = (flags & SLIDE_RANDOM) != 0;
    if (random && cursor->marks.size() != static_cast<size_t>(count)) cursor->marks.assign(count, 0);
    int step = direction < 0 ? -1 : 1;
    int index = cursor->index + step;
    if (cursor->index < -1 || cursor->index >= count) index = step > 0 ? 0 : count - 1;
    if (index < 0 || index >= count) {
        if (!(flags & SLIDE_LOOP)) return -1;
        index = step > 0 ? 0 : count - 1;
        if (random) cursor->marks.assign(count, 0);
    }
    if (random) {
        int r = static_cast<int>(randomValue % static_cast<uint32_t>(count));
        int chosen = -1;
        for (int i = r; i < count && chosen < 0; ++i)
            if (!cursor->marks[i]) chosen = i;
        for (int i = 0; i < r && chosen < 0; ++i)
            if (!cursor->marks[i]) chosen = i;
        if (chosen < 0) {
            cursor->marks.assign(count, 0);
            chosen = 0;
        }
        cursor->marks[chosen] = 1;
        // The position moves through the list as a count of shown files; the
        // file shown is the chosen one.
        cursor->index = index;
        return chosen;
    }
    cursor->index = index;
    return index;
}

SlideRect slideImageRect(int32_t imageW, int32_t imageH, int32_t clientW, int32_t clientH, int32_t screenW,
                         int32_t screenH, uint16_t flags) {
    int32_t w = imageW < 1 ? 1 : imageW;
    int32_t h = imageH < 1 ? 1 : imageH;
    bool fit = (flags & SLIDE_FIT_ALL) || ((flags & SLIDE_FIT_LARGER) && (w >= screenW || h >= screenH));
    if (fit && clientW > 0 && clientH > 0) fitSize(imageW, imageH, clientW, clientH, &w, &h);
    SlideRect r;
    r.width = w;
    r.height = h;
    r.left = static_cast<int32_t>((static_cast<int64_t>(clientW) - w) / 2);
    r.top = static_cast<int32_t>((static_cast<int64_t>(clientH) - h) / 2);
    return r;
}
