// Draws the viewer's bitmaps at build time: the tool bar strips (bitmaps 4000
// and 4001, 25 images of 24x22), the program icon (1000) and "ConfigIcon"
// (two 16x16 check images on pure red, which is transparent).
// The desktop entry's icon is the program icon drawn at 48x48.
//   kaleosart FOLDER  → toolbar24.bmp toolbar8.bmp kaleos.ico configicon.bmp kaleos48.bmp
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Rgb {
    uint8_t r, g, b;
};
bool operator==(Rgb a, Rgb b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

const Rgb FACE = {192, 192, 192};  // the button face: made transparent by the tool bar
const Rgb BLACK = {0, 0, 0};
const Rgb WHITE = {255, 255, 255};
const Rgb DARK = {64, 64, 64};
const Rgb GREY = {128, 128, 128};
const Rgb LIGHT = {224, 224, 224};
const Rgb YELLOW = {248, 208, 64};
const Rgb DYELLOW = {176, 128, 16};
const Rgb BLUE = {32, 80, 192};
const Rgb LBLUE = {128, 176, 240};
const Rgb GREEN = {32, 160, 48};
const Rgb DGREEN = {16, 96, 24};
const Rgb RED = {208, 40, 32};
const Rgb ORANGE = {240, 136, 32};
const Rgb PURPLE = {136, 64, 176};
const Rgb SKY = {96, 160, 224};

class Canvas {
public:
    Canvas(int w, int h, Rgb fill) : w_(w), h_(h), px_(static_cast<size_t>(w) * h, fill), alpha_(px_.size(), 255) {}
    int width() const { return w_; }
    int height() const { return h_; }
    void set(int x, int y, Rgb c) {
        if (x >= 0 && y >= 0 && x < w_ && y < h_) px_[static_cast<size_t>(y) * w_ + x] = c;
    }
    Rgb get(int x, int y) const { return px_[static_cast<size_t>(y) * w_ + x]; }
    void setAlpha(int x, int y, uint8_t a) { alpha_[static_cast<size_t>(y) * w_ + x] = a; }
    uint8_t alpha(int x, int y) const { return alpha_[static_cast<size_t>(y) * w_ + x]; }
    void fill(int x0, int y0, int x1, int y1, Rgb c) {  // inclusive corners
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) set(x, y, c);
    }
    void frame(int x0, int y0, int x1, int y1, Rgb c) {
        line(x0, y0, x1, y0, c);
        line(x0, y1, x1, y1, c);
        line(x0, y0, x0, y1, c);
        line(x1, y0, x1, y1, c);
    }
    void box(int x0, int y0, int x1, int y1, Rgb inside, Rgb border) {
        fill(x0, y0, x1, y1, inside);
        frame(x0, y0, x1, y1, border);
    }
    void line(int x0, int y0, int x1, int y1, Rgb c) {
        int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
        int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1, err = dx + dy;
        for (;;) {
            set(x0, y0, c);
            if (x0 == x1 && y0 == y1) break;
            int e2 = 2 * err;
            if (e2 >= dy) { err += dy; x0 += sx; }
            if (e2 <= dx) { err += dx; y0 += sy; }
        }
    }
    void thick(int x0, int y0, int x1, int y1, Rgb c) {
        line(x0, y0, x1, y1, c);
        line(x0 + 1, y0, x1 + 1, y1, c);
        line(x0, y0 + 1, x1, y1 + 1, c);
    }
    void disc(double cx, double cy, double r, Rgb c) {
        for (int y = 0; y < h_; ++y)
            for (int x = 0; x < w_; ++x)
                if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) set(x, y, c);
    }
    void ring(double cx, double cy, double r, double width, Rgb c) {
        for (int y = 0; y < h_; ++y)
            for (int x = 0; x < w_; ++x) {
                double d = std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy));
                if (d <= r && d > r - width) set(x, y, c);
            }
    }
    // Filled triangle, pixel centres inside all three edges.
    void triangle(double ax, double ay, double bx, double by, double cx, double cy, Rgb c) {
        for (int y = 0; y < h_; ++y)
            for (int x = 0; x < w_; ++x) {
                double px = x + 0.5, py = y + 0.5;
                double d1 = (px - bx) * (ay - by) - (ax - bx) * (py - by);
                double d2 = (px - cx) * (by - cy) - (bx - cx) * (py - cy);
                double d3 = (px - ax) * (cy - ay) - (cx - ax) * (py - ay);
                bool neg = d1 < 0 || d2 < 0 || d3 < 0, pos = d1 > 0 || d2 > 0 || d3 > 0;
                if (!(neg && pos)) set(x, y, c);
            }
    }
    // Pastes another canvas with its top-left corner at (x, y).
    void paste(const Canvas& src, int x, int y) {
        for (int j = 0; j < src.h_; ++j)
            for (int i = 0; i < src.w_; ++i) set(x + i, y + j, src.get(i, j));
    }

private:
    int w_, h_;
    std::vector<Rgb> px_;
    std::vector<uint8_t> alpha_;
};

// ---- The 25 tool bar images (24x22) ------------------------------------------

void page(Canvas& c, int x0, int y0, int x1, int y1) {
    c.box(x0, y0, x1, y1, WHITE, DARK);
    c.triangle(x1 - 3, y0, x1 + 1, y0, x1 + 1, y0 + 4, FACE);
    c.line(x1 - 3, y0, x1, y0 + 3, DARK);
}

void magnifier(Canvas& c) {
    c.disc(9.5, 9.5, 7, DARK);
    c.disc(9.5, 9.5, 5.6, LBLUE);
    c.thick(14, 14, 20, 20, DARK);
    c.thick(15, 14, 21, 20, DYELLOW);
}

void arrowRight(Canvas& c, int x, int y, int len, Rgb col) {  // (x, y) = tail centre
    c.fill(x, y - 1, x + len - 5, y + 1, col);
    c.triangle(x + len - 6, y - 5, x + len, y + 0.5, x + len - 6, y + 6, col);
}

void arrowLeft(Canvas& c, int x, int y, int len, Rgb col) {  // (x, y) = tail centre
    c.fill(x - len + 5, y - 1, x, y + 1, col);
    c.triangle(x - len + 6, y - 5, x - len, y + 0.5, x - len + 6, y + 6, col);
}

void curvedArrow(Canvas& c, Rgb col, bool full) {
    // Arc of a ring, then an arrow head at its start.
    for (int y = 0; y < 22; ++y)
        for (int x = 0; x < 24; ++x) {
            double dx = x - 12, dy = y - 11.5, d = std::sqrt(dx * dx + dy * dy);
            double a = std::atan2(dy, dx) * 180 / M_PI;  // -180…180, y down
            bool onArc = full ? !(a > -100 && a < -60) : (a > -170 && a < 60);
            if (d <= 8 && d > 5 && onArc) c.set(x, y, col);
        }
    if (full)
        c.triangle(14, 0, 20, 4, 13, 8, col);
    else
        c.triangle(0, 10, 9, 10, 4.5, 16, col);
}

void drawToolImage(Canvas& c, int index) {
    switch (index) {
    case 0:  // Ouvrir: an open folder
        c.box(2, 5, 18, 18, DYELLOW, DARK);
        c.fill(3, 4, 8, 5, DYELLOW);
        c.line(2, 4, 8, 4, DARK);
        c.triangle(5, 9, 22, 9, 18, 18.5, YELLOW);
        c.triangle(5, 9, 2, 18.5, 18, 18.5, YELLOW);
        c.line(5, 9, 22, 9, DARK);
        c.line(22, 9, 18, 18, DARK);
        c.line(5, 9, 2, 18, DARK);
        break;
    case 1:  // Sauver sous: a floppy disk
        c.box(3, 2, 20, 19, BLUE, DARK);
        c.box(6, 3, 17, 9, WHITE, GREY);
        c.line(7, 5, 15, 5, GREY);
        c.line(7, 7, 15, 7, GREY);
        c.box(7, 13, 16, 19, LIGHT, DARK);
        c.fill(9, 14, 11, 18, DARK);
        break;
    case 2:  // Couper: crop marks around a picture
        c.fill(7, 7, 16, 14, SKY);
        c.triangle(7, 14.5, 11, 10, 15, 14.5, GREEN);
        c.fill(4, 1, 5, 16, DARK);
        c.fill(4, 15, 20, 16, DARK);
        c.fill(18, 5, 19, 21, DARK);
        c.fill(1, 5, 19, 6, DARK);
        break;
    case 3:  // Annuler: a curved arrow going back
        curvedArrow(c, BLUE, false);
        break;
    case 4:  // Zoom avant
        magnifier(c);
        c.fill(6, 9, 13, 10, BLACK);
        c.fill(9, 6, 10, 13, BLACK);
        break;
    case 5:  // Zoom arrière
        magnifier(c);
        c.fill(6, 9, 13, 10, BLACK);
        break;
    case 6:  // Fichier précédent
        page(c, 8, 1, 21, 20);
        arrowLeft(c, 18, 11, 16, GREEN);
        break;
    case 7:  // Fichier suivant
        page(c, 2, 1, 15, 20);
        arrowRight(c, 5, 11, 16, GREEN);
        break;
    case 8:  // Page précédente: stacked sheets, arrow up
        page(c, 8, 1, 19, 15);
        page(c, 4, 5, 15, 19);
        c.triangle(13, 9, 19, 16, 7, 16, RED);
        c.fill(11, 16, 14, 20, RED);
        break;
    case 9:  // Page suivante: stacked sheets, arrow down
        page(c, 8, 1, 19, 15);
        page(c, 4, 5, 15, 19);
        c.fill(11, 7, 14, 12, RED);
        c.triangle(7, 12, 19, 12, 13, 20, RED);
        break;
    case 10:  // Plein écran: a screen with arrows to the corners
        c.box(1, 2, 22, 17, SKY, DARK);
        c.fill(9, 18, 14, 19, DARK);
        c.fill(6, 20, 17, 20, DARK);
        c.triangle(3, 4, 9, 4, 3, 10, WHITE);
        c.triangle(20, 4, 14, 4, 20, 10, WHITE);
        c.triangle(3, 15, 9, 15, 3, 9.5, WHITE);
        c.triangle(20, 15, 14, 15, 20, 9.5, WHITE);
        break;
    case 11:  // Imprimer: a printer with a sheet
        c.box(6, 1, 17, 9, WHITE, DARK);
        c.line(8, 4, 15, 4, GREY);
        c.line(8, 6, 15, 6, GREY);
        c.box(1, 8, 22, 17, LIGHT, DARK);
        c.fill(2, 14, 21, 16, GREY);
        c.fill(18, 10, 19, 11, GREEN);
        c.box(5, 15, 18, 20, WHITE, DARK);
        break;
    case 12:  // Convertir: one picture into another
        c.box(1, 2, 10, 11, SKY, DARK);
        c.fill(2, 8, 9, 10, GREEN);
        c.box(13, 10, 22, 19, YELLOW, DARK);
        c.fill(14, 16, 21, 18, ORANGE);
        c.thick(7, 15, 10, 15, RED);
        c.triangle(10, 12, 13, 15.5, 10, 19, RED);
        c.thick(13, 5, 16, 5, RED);
        c.triangle(16, 2, 19, 5.5, 16, 9, RED);
        break;
    case 13:  // Capturer: a camera
        c.box(1, 6, 22, 19, DARK, BLACK);
        c.fill(4, 3, 10, 6, DARK);
        c.fill(17, 8, 20, 9, ORANGE);
        c.disc(11.5, 12.5, 5.5, LIGHT);
        c.disc(11.5, 12.5, 3.5, BLUE);
        c.disc(10.5, 11.5, 1, WHITE);
        break;
    case 14:  // Slide show: a screen on a stand, with a picture
        c.fill(11, 1, 12, 3, DARK);
        c.box(2, 3, 21, 15, WHITE, DARK);
        c.triangle(4, 14, 9, 7, 14, 14, GREEN);
        c.triangle(10, 14, 15, 9, 20, 14, DGREEN);
        c.disc(17, 6.5, 1.6, ORANGE);
        c.line(11, 16, 6, 21, DARK);
        c.line(12, 16, 17, 21, DARK);
        c.line(11, 16, 11, 21, DARK);
        break;
    case 15:  // Options: check boxes
        for (int i = 0; i < 3; ++i) {
            int y = 2 + i * 7;
            c.box(2, y, 7, y + 5, WHITE, DARK);
            c.fill(10, y + 2, 21, y + 3, DARK);
        }
        c.thick(3, 4, 4, 6, GREEN);
        c.thick(4, 6, 7, 1, GREEN);
        c.thick(3, 18, 4, 20, GREEN);
        c.thick(4, 20, 7, 15, GREEN);
        break;
    case 16:  // A propos: an "i" in a blue disc
        c.disc(11.5, 10.5, 10, DARK);
        c.disc(11.5, 10.5, 9, BLUE);
        c.fill(10, 4, 13, 6, WHITE);
        c.fill(10, 8, 13, 16, WHITE);
        c.fill(9, 16, 14, 17, WHITE);
        break;
    case 17:  // Browser: a folder of thumbnails
        c.box(1, 4, 22, 20, YELLOW, DYELLOW);
        c.fill(2, 2, 9, 4, YELLOW);
        for (int j = 0; j < 2; ++j)
            for (int i = 0; i < 3; ++i) {
                int x = 3 + i * 6, y = 7 + j * 6;
                c.box(x, y, x + 4, y + 4, i == j ? SKY : (i == 2 ? GREEN : RED), DARK);
            }
        break;
    case 18:  // Voir: an eye
        for (int y = 0; y < 22; ++y)
            for (int x = 0; x < 24; ++x) {
                double u = (x - 11.5) / 11, v = (y - 10.5) / 6.5;
                if (u * u + v * v <= 1 && std::fabs(v) <= 1 - u * u + 0.05) c.set(x, y, WHITE);
            }
        c.disc(11.5, 10.5, 5, BLUE);
        c.disc(11.5, 10.5, 2.5, BLACK);
        c.disc(10.3, 9.3, 1, WHITE);
        c.line(1, 10, 5, 6, DARK);
        c.line(5, 6, 18, 6, DARK);
        c.line(18, 6, 22, 10, DARK);
        c.line(1, 11, 5, 15, DARK);
        c.line(5, 15, 18, 15, DARK);
        c.line(18, 15, 22, 11, DARK);
        break;
    case 19:  // Voir en icône: four large tiles
        for (int j = 0; j < 2; ++j)
            for (int i = 0; i < 2; ++i) {
                int x = 2 + i * 11, y = 1 + j * 11;
                c.box(x, y, x + 8, y + 8, (i + j) % 2 ? GREEN : SKY, DARK);
            }
        break;
    case 20:  // Voir en petite icône: small tiles with labels
        for (int j = 0; j < 3; ++j)
            for (int i = 0; i < 2; ++i) {
                int x = 1 + i * 12, y = 2 + j * 7;
                c.box(x, y, x + 4, y + 4, SKY, DARK);
                c.fill(x + 6, y + 2, x + 10, y + 2, DARK);
            }
        break;
    case 21:  // Voir en liste: one column of small icons and names
        for (int j = 0; j < 4; ++j) {
            int y = 1 + j * 5;
            c.box(2, y, 5, y + 3, SKY, DARK);
            c.fill(8, y + 1, 21, y + 2, DARK);
        }
        break;
    case 22:  // Voir en colonne: a table with a heading row
        c.box(1, 2, 22, 19, WHITE, DARK);
        c.fill(2, 3, 21, 6, LIGHT);
        c.line(9, 3, 9, 18, GREY);
        c.line(16, 3, 16, 18, GREY);
        for (int j = 0; j < 3; ++j) {
            int y = 9 + j * 3;
            c.line(3, y, 7, y, DARK);
            c.line(11, y, 14, y, GREY);
            c.line(18, y, 20, y, GREY);
        }
        break;
    case 23:  // Réactualiser: a closed circular arrow
        curvedArrow(c, GREEN, true);
        break;
    case 24:  // Création de vignette: a web page of thumbnails
        page(c, 2, 0, 21, 21);
        c.disc(6, 4, 2.2, BLUE);
        c.fill(10, 3, 17, 4, BLUE);
        for (int j = 0; j < 2; ++j)
            for (int i = 0; i < 3; ++i) {
                int x = 4 + i * 5, y = 8 + j * 6;
                c.box(x, y, x + 3, y + 3, (i + j) % 2 ? ORANGE : PURPLE, DARK);
            }
        break;
    default: break;
    }
}

// ---- Writers ----------------------------------------------------------------

void put16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}
void put32(std::vector<uint8_t>& v, uint32_t x) {
    put16(v, x & 0xFFFF);
    put16(v, x >> 16);
}

void infoHeader(std::vector<uint8_t>& v, int w, int h, int bits, int colours, uint32_t imageBytes) {
    put32(v, 40);
    put32(v, static_cast<uint32_t>(w));
    put32(v, static_cast<uint32_t>(h));
    put16(v, 1);
    put16(v, static_cast<uint32_t>(bits));
    put32(v, 0);
    put32(v, imageBytes);
    put32(v, 2835);
    put32(v, 2835);
    put32(v, static_cast<uint32_t>(colours));
    put32(v, static_cast<uint32_t>(colours));
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

std::vector<uint8_t> bmp24(const Canvas& c) {
    int stride = (c.width() * 3 + 3) & ~3;
    uint32_t imageBytes = static_cast<uint32_t>(stride * c.height());
    std::vector<uint8_t> v = {'B', 'M'};
    put32(v, 54 + imageBytes);
    put32(v, 0);
    put32(v, 54);
    infoHeader(v, c.width(), c.height(), 24, 0, imageBytes);
    for (int y = c.height() - 1; y >= 0; --y) {
        for (int x = 0; x < c.width(); ++x) {
            Rgb p = c.get(x, y);
            v.push_back(p.b);
            v.push_back(p.g);
            v.push_back(p.r);
        }
        for (int i = c.width() * 3; i < stride; ++i) v.push_back(0);
    }
    return v;
}

// 32 bits, the fourth byte of each pixel its opacity (the desktop icon).
std::vector<uint8_t> bmp32(const Canvas& c) {
    uint32_t imageBytes = static_cast<uint32_t>(c.width() * c.height() * 4);
    std::vector<uint8_t> v = {'B', 'M'};
    put32(v, 54 + imageBytes);
    put32(v, 0);
    put32(v, 54);
    infoHeader(v, c.width(), c.height(), 32, 0, imageBytes);
    for (int y = c.height() - 1; y >= 0; --y)
        for (int x = 0; x < c.width(); ++x) {
            Rgb p = c.get(x, y);
            v.push_back(p.b);
            v.push_back(p.g);
            v.push_back(p.r);
            v.push_back(c.alpha(x, y));
        }
    return v;
}

// 8 bits with a table of the colours the drawing uses (fewer than 256).
bool bmp8(const Canvas& c, std::vector<uint8_t>* out) {
    std::vector<Rgb> table = {FACE};
    std::vector<uint8_t> index(static_cast<size_t>(c.width()) * c.height());
    for (int y = 0; y < c.height(); ++y)
        for (int x = 0; x < c.width(); ++x) {
            Rgb p = c.get(x, y);
            size_t i = 0;
            while (i < table.size() && !(table[i] == p)) ++i;
            if (i == table.size()) {
                if (table.size() == 256) return false;
                table.push_back(p);
            }
            index[static_cast<size_t>(y) * c.width() + x] = static_cast<uint8_t>(i);
        }
    int stride = (c.width() + 3) & ~3;
    uint32_t imageBytes = static_cast<uint32_t>(stride * c.height());
    uint32_t offset = 54 + 4 * static_cast<uint32_t>(table.size());
    std::vector<uint8_t>& v = *out;
    v = {'B', 'M'};
    put32(v, offset + imageBytes);
    put32(v, 0);
    put32(v, offset);
    infoHeader(v, c.width(), c.height(), 8, static_cast<int>(table.size()), imageBytes);
    for (Rgb p : table) {
        v.push_back(p.b);
        v.push_back(p.g);
        v.push_back(p.r);
        v.push_back(0);
    }
    for (int y = c.height() - 1; y >= 0; --y) {
        for (int x = 0; x < c.width(); ++x) v.push_back(index[static_cast<size_t>(y) * c.width() + x]);
        for (int i = c.width(); i < stride; ++i) v.push_back(0);
    }
    return true;
}

// An icon file holding 32-bit images with alpha and their AND masks.
std::vector<uint8_t> iconFile(const std::vector<const Canvas*>& images) {
    std::vector<uint8_t> v;
    put16(v, 0);
    put16(v, 1);
    put16(v, static_cast<uint32_t>(images.size()));
    std::vector<std::vector<uint8_t>> blobs;
    for (const Canvas* c : images) {
        std::vector<uint8_t> b;
        int w = c->width(), h = c->height();
        int maskStride = ((w + 31) / 32) * 4;
        infoHeader(b, w, 2 * h, 32, 0, static_cast<uint32_t>(w * h * 4 + maskStride * h));
        for (int y = h - 1; y >= 0; --y)
            for (int x = 0; x < w; ++x) {
                Rgb p = c->get(x, y);
                b.push_back(p.b);
                b.push_back(p.g);
                b.push_back(p.r);
                b.push_back(c->alpha(x, y));
            }
        for (int y = h - 1; y >= 0; --y) {
            std::vector<uint8_t> row(static_cast<size_t>(maskStride), 0);
            for (int x = 0; x < w; ++x)
                if (c->alpha(x, y) == 0) row[static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
            b.insert(b.end(), row.begin(), row.end());
        }
        blobs.push_back(b);
    }
    uint32_t offset = 6 + 16 * static_cast<uint32_t>(images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        v.push_back(static_cast<uint8_t>(images[i]->width()));
        v.push_back(static_cast<uint8_t>(images[i]->height()));
        v.push_back(0);
        v.push_back(0);
        put16(v, 1);
        put16(v, 32);
        put32(v, static_cast<uint32_t>(blobs[i].size()));
        put32(v, offset);
        offset += static_cast<uint32_t>(blobs[i].size());
    }
    for (const auto& b : blobs) v.insert(v.end(), b.begin(), b.end());
    return v;
}

// The program icon: a kaleidoscope of six coloured sectors in a dark ring.
Canvas programIcon(int size) {
    Canvas c(size, size, BLACK);
    const Rgb sectors[6] = {RED, ORANGE, YELLOW, GREEN, SKY, PURPLE};
    double centre = (size - 1) / 2.0, outer = size / 2.0 - 0.5, inner = outer * 0.22;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            double dx = x - centre, dy = y - centre, d = std::sqrt(dx * dx + dy * dy);
            if (d > outer) {
                c.setAlpha(x, y, 0);
                c.set(x, y, BLACK);
                continue;
            }
            if (d > outer - std::max(1.0, size / 16.0)) {
                c.set(x, y, DARK);
                continue;
            }
            double a = std::atan2(dy, dx) / (2 * M_PI) + 0.5;  // 0…1
            int s = static_cast<int>(a * 6) % 6;
            // Mirror each sector's halves in two shades, as a kaleidoscope does.
            double within = a * 6 - std::floor(a * 6);
            Rgb col = sectors[s];
            if ((within < 0.5) != (d < outer * 0.6))
                col = {static_cast<uint8_t>(col.r * 3 / 4), static_cast<uint8_t>(col.g * 3 / 4),
                       static_cast<uint8_t>(col.b * 3 / 4)};
            c.set(x, y, d < inner ? WHITE : col);
        }
    return c;
}

// "ConfigIcon": an empty and a ticked check box on pure red.
Canvas checkImages() {
    const Rgb KEY = {255, 0, 0};
    Canvas c(32, 16, KEY);
    for (int i = 0; i < 2; ++i) {
        int x = i * 16;
        c.box(x + 2, 2, x + 13, 13, WHITE, DARK);
        c.line(x + 3, 3, x + 12, 3, GREY);
        c.line(x + 3, 3, x + 3, 12, GREY);
    }
    c.thick(16 + 4, 7, 16 + 6, 10, BLACK);
    c.thick(16 + 6, 10, 16 + 10, 4, BLACK);
    return c;
}

// "BrowserTreeIcon": 16x16 images on pure red (transparent) for the folder
// tree: fixed drive, removable drive, CD drive, network drive, folder, open
// folder.
Canvas treeIcons() {
    const Rgb KEY = {255, 0, 0};
    Canvas c(16 * 6, 16, KEY);
    for (int i = 0; i < 4; ++i) {
        int x = i * 16;
        if (i == 2) {
            c.disc(x + 7.5, 7.5, 7, DARK);
            c.disc(x + 7.5, 7.5, 6, LIGHT);
            c.disc(x + 7.5, 7.5, 2, WHITE);
            c.ring(x + 7.5, 7.5, 2.5, 1, GREY);
            continue;
        }
        c.box(x + 1, 5, x + 14, 11, i == 1 ? LIGHT : GREY, DARK);
        c.line(x + 2, 6, x + 13, 6, WHITE);
        c.fill(x + 11, 8, x + 12, 9, GREEN);
        if (i == 1) c.fill(x + 3, 8, x + 8, 8, DARK);
        if (i == 3) {
            c.line(x + 7, 12, x + 7, 14, DARK);
            c.line(x + 3, 14, x + 12, 14, DARK);
        }
    }
    for (int i = 0; i < 2; ++i) {
        int x = 64 + i * 16;
        c.box(x + 1, 3, x + 6, 5, YELLOW, DYELLOW);
        c.box(x + 1, 4, x + 14, 13, YELLOW, DYELLOW);
        if (i == 1) {
            c.triangle(x + 3, 7, x + 16, 7, x + 13, 13.5, LIGHT);
            c.line(x + 3, 7, x + 15, 7, DYELLOW);
            c.line(x + 15, 7, x + 13, 13, DYELLOW);
        }
    }
    return c;
}

// "Layout1" ... "Layout5": the pane arrangement of each layout in a 32x20
// picture: tree yellow, file list white, preview blue.
Canvas layoutImage(int layout) {
    Canvas c(32, 20, FACE);
    struct Box {
        int x0, y0, x1, y1;
        Rgb colour;
    };
    const Box boxes[5][3] = {
        {{1, 1, 11, 9, YELLOW}, {13, 1, 30, 9, WHITE}, {1, 11, 30, 18, SKY}},
        {{1, 1, 11, 8, YELLOW}, {1, 10, 11, 18, WHITE}, {13, 1, 30, 18, SKY}},
        {{1, 1, 11, 8, YELLOW}, {1, 10, 11, 18, SKY}, {13, 1, 30, 18, WHITE}},
        {{1, 1, 11, 18, YELLOW}, {13, 1, 30, 9, WHITE}, {13, 11, 30, 18, SKY}},
        {{1, 1, 8, 18, YELLOW}, {10, 1, 20, 18, WHITE}, {22, 1, 30, 18, SKY}},
    };
    for (const Box& b : boxes[layout - 1]) c.box(b.x0, b.y0, b.x1, b.y1, b.colour, DARK);
    return c;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: kaleosart FOLDER\n");
        return 2;
    }
    std::string folder = argv[1];
    const int count = 25;
    Canvas strip(24 * count, 22, FACE);
    for (int i = 0; i < count; ++i) {
        Canvas one(24, 22, FACE);
        drawToolImage(one, i);
        strip.paste(one, i * 24, 0);
    }
    std::vector<uint8_t> eight;
    if (!bmp8(strip, &eight)) {
        fprintf(stderr, "kaleosart: the tool bar uses more than 256 colours\n");
        return 1;
    }
    Canvas big = programIcon(32), small = programIcon(16);
    bool ok = writeFile(folder + "/toolbar24.bmp", bmp24(strip)) && writeFile(folder + "/toolbar8.bmp", eight) &&
              writeFile(folder + "/kaleos.ico", iconFile({&big, &small})) &&
              writeFile(folder + "/configicon.bmp", bmp24(checkImages())) &&
              writeFile(folder + "/kaleos48.bmp", bmp32(programIcon(48))) &&
              writeFile(folder + "/browsertree.bmp", bmp24(treeIcons()));
    for (int layout = 1; layout <= 5 && ok; ++layout)
        ok = writeFile(folder + "/layout" + std::to_string(layout) + ".bmp", bmp24(layoutImage(layout)));
    if (!ok) {
        fprintf(stderr, "kaleosart: cannot write into %s\n", folder.c_str());
        return 1;
    }
    return 0;
}
