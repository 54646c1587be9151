// Writes the small demonstration pictures bundled with Kaleos, with our own writers.
//   kaleosamples FOLDER
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "kaleocore.h"

namespace {

// A colour wheel over a vertical fade: every channel and many hues.
void paintWheel(Image* img) {
    for (int y = 0; y < img->height; ++y) {
        uint8_t* row = imageRow(img, y);
        for (int x = 0; x < img->width; ++x) {
            double dx = x - img->width / 2.0, dy = y - img->height / 2.0;
            double a = atan2(dy, dx) / (2 * M_PI) + 0.5;
            double r = sqrt(dx * dx + dy * dy) / (img->width / 2.0);
            double light = r > 1 ? 0.25 : 1.0 - 0.5 * r;
            for (int c = 0; c < 3; ++c) {
                double v = 0.5 + 0.5 * cos(2 * M_PI * (a - c / 3.0));
                row[x * 3 + c] = static_cast<uint8_t>(255 * v * light * (0.4 + 0.6 * y / img->height));
            }
        }
    }
}

bool save(const std::string& folder, const char* name, Image* img, int rle) {
    std::string path = folder + "/" + name;
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(findFormat("bmp"));
    o.writerOption1 = static_cast<int16_t>(rle);
    char buf[FILE_NAME_LEN];
    snprintf(buf, sizeof buf, "%s", path.c_str());
    Status st = saveImage(buf, img, &o);
    if (st != ST_OK) fprintf(stderr, "kaleosamples: cannot write %s (%s)\n", buf, statusName(st));
    return st == ST_OK;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: kaleosamples FOLDER\n");
        return 2;
    }
    std::string folder = argv[1];
    bool ok = true;

    OwnedImage wheel;
    if (!createImage(&wheel, IMG_RGB, 1, 160, 120)) return 1;
    paintWheel(&wheel);
    wheel.xdpi = wheel.ydpi = 72;
    ok &= save(folder, "wheel.bmp", &wheel, 0);

    // A 16-colour palette picture in bands, run-length encoded.
    OwnedImage bands;
    if (!createImage(&bands, IMG_PALETTE, 1, 120, 80)) return 1;
    bands.colours = 16;
    for (int i = 0; i < 16; ++i) {
        bands.palette[i] = static_cast<uint8_t>((i & 1) ? 255 : i * 12);
        bands.palette[256 + i] = static_cast<uint8_t>((i & 2) ? 255 : i * 8);
        bands.palette[512 + i] = static_cast<uint8_t>((i & 4) ? 255 : 255 - i * 16);
    }
    for (int y = 0; y < bands.height; ++y)
        for (int x = 0; x < bands.width; ++x) imageRow(&bands, y)[x] = static_cast<uint8_t>(((x / 8) + (y / 20)) & 15);
    ok &= save(folder, "bands16.bmp", &bands, 1);

    // A 256-level grey ramp.
    OwnedImage grey;
    if (!createImage(&grey, IMG_GREY, 1, 256, 64)) return 1;
    for (int y = 0; y < grey.height; ++y)
        for (int x = 0; x < grey.width; ++x) imageRow(&grey, y)[x] = static_cast<uint8_t>(x);
    ok &= save(folder, "ramp.bmp", &grey, 0);

    // Black and white: a checker with a diagonal.
    OwnedImage bw;
    if (!createImage(&bw, IMG_BINARY, 1, 101, 67)) return 1;
    for (int y = 0; y < bw.height; ++y)
        for (int x = 0; x < bw.width; ++x)
            imageRow(&bw, y)[x] = static_cast<uint8_t>((((x / 10) ^ (y / 10)) & 1) || x == y ? 1 : 0);
    ok &= save(folder, "checker.bmp", &bw, 0);
    return ok ? 0 : 1;
}
