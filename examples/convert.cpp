// kaleoconvert: converts a picture with Kaleocore, optionally mirrored.
//   kaleoconvert IN OUT FORMAT [-xflip]
// FORMAT is a short name of `kaleocmd -l` (png, gif, bmp...).
#include <cstdio>
#include <cstring>

#include <kaleocore/kaleocore.h>
#include <kaleocore/operations.h>

int main(int argc, char** argv) {
    if (argc < 4 || argc > 5 || (argc == 5 && strcmp(argv[4], "-xflip") != 0)) {
        fprintf(stderr, "usage: kaleoconvert IN OUT FORMAT [-xflip]\n");
        return 2;
    }
    printf("%s\n", libraryVersion());

    OwnedImage image;  // frees its pixels when it goes out of scope
    IoOptions options = defaultIoOptions();
    FileInfo info{};
    Status st = loadImage(argv[1], &image, &options, &info);
    if (st != ST_OK) {
        fprintf(stderr, "%s: %s %s\n", argv[1], statusName(st), info.message);
        return 1;
    }
    printf("%s: %s, %d x %d\n", argv[1], info.formatName, image.width, image.height);

    if (argc == 5) {  // any operation of the table runs the same way
        OpInstance op;
        if (!initOpInstance(&op, findOp(argv[4])) || (st = runOp(&image, op)) != ST_OK) {
            fprintf(stderr, "%s: %s\n", argv[4], opStatusText(st));
            return 1;
        }
    }

    int format = findFormat(argv[3]);
    if (format < 0) {
        fprintf(stderr, "%s: no such format\n", argv[3]);
        return 2;
    }
    // A format that keeps only palette pictures (GIF, for one) refuses true
    // colour: reduce the picture to 256 colours first, without dithering (a
    // palette chosen from the picture keeps up to 256 colours exactly).
    const WriteVariant* variant = nullptr;
    if (!findWriteVariant(format, &image, &variant)) {
        OpInstance reduce;
        bool known = initOpInstance(&reduce, findOp("-colors"));
        reduce.ints[1] = 0;  // ints[0] is the 256-colour target, ints[1] the dither switch
        if (!known || runOp(&image, reduce) != ST_OK ||
            !findWriteVariant(format, &image, &variant)) {
            fprintf(stderr, "%s cannot store this picture\n", argv[3]);
            return 1;
        }
    }
    options.formatIndex = static_cast<int16_t>(format);
    char out[FILE_NAME_LEN];
    snprintf(out, sizeof out, "%s", argv[2]);
    st = saveImage(out, &image, &options);
    if (st != ST_OK) {
        fprintf(stderr, "%s: %s\n", out, statusName(st));
        return 1;
    }
    printf("%s written\n", out);
    return 0;
}
