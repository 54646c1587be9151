// Encapsulated PostScript previews: EPSI previews written by netpbm, TIFF
// previews of DOS binary files written by GraphicsMagick and in the shared
// samples (cut out and decoded by netpbm), and files without a preview.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"

using namespace testutil;

namespace {

using Bytes = std::vector<uint8_t>;


bool peerRun(const std::string& cmd, const std::string& out, Rgb* rgb) {
    if (run(cmd) != 0) return false;
    unsigned maxval;
    return readPeerPnm(out, rgb, &maxval);
}

// The TIFF preview of a DOS binary EPS file, as netpbm decodes it.
bool tiffPreview(const Bytes& eps, Rgb* out) {
    static int counter = 0;
    auto le32 = [&](size_t at) { return eps[at] | eps[at + 1] << 8 | eps[at + 2] << 16 | uint32_t(eps[at + 3]) << 24; };
    const uint32_t at = le32(20), length = le32(24);
    if (eps.size() < 30 || length == 0 || at + length > eps.size()) return false;
    const std::string tif = tempPath("preview" + std::to_string(counter) + ".tif");
    const std::string ppm = tempPath("preview" + std::to_string(counter++) + ".pnm");
    if (!writeFile(tif, Bytes(eps.begin() + at, eps.begin() + at + length))) return false;
    return peerRun(shell("tifftopnm IN > OUT 2>/dev/null", {{"IN", tif}, {"OUT", ppm}}), ppm, out);
}

TEST(EpsReader, EpsiPreviewFromNetpbm) {
    if (!haveProgram("pbmtoepsi")) GTEST_SKIP() << "netpbm missing";
    const std::string ppm = tempPath("epsi.ppm"), pbm = tempPath("epsi.pbm"), epsi = tempPath("netpbm.epsi");
    ASSERT_TRUE(writeFile(ppm, patternP6(45, 17)));
    ASSERT_EQ(0, run(shell("ppmtopgm IN | pgmtopbm > PBM && pbmtoepsi PBM > OUT", {{"IN", ppm}, {"PBM", pbm}, {"OUT", epsi}})));
    Rgb want;
    unsigned maxval;
    ASSERT_TRUE(readPeerPnm(pbm, &want, &maxval));
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(findFormat("eps"));
    OwnedImage img;
    ASSERT_EQ(ST_OK, loadImage(epsi.c_str(), &img, &o, nullptr));
    EXPECT_EQ(IMG_BINARY, img.kind);
    EXPECT_EQ(0, compareRgb(toRgb(img), want));
}

TEST(EpsReader, HandBuiltEpsi) {
    const std::string head = "%!PS-Adobe-3.0 EPSF-3.0\r%%BoundingBox: 0 0 4 2\r%%EndComments\r";
    struct Case {
        const char* name;
        std::string text;
        Status status;
        Bytes grey;
    } cases[] = {
        {"8-bit, CR lines, digits split over lines", head + "%%BeginPreview: 3 2 8 3\r% 00FF80\r% 40 c0 1\r%0\r%%EndPreview\r",
         ST_OK, {255, 0, 127, 191, 63, 239}},
        {"2-bit", head + "%%BeginPreview: 4 2 2 1\n% 1BE4\n%%EndPreview\n", ST_OK, {255, 170, 85, 0, 0, 85, 170, 255}},
        {"rows missing", head + "%%BeginPreview: 4 2 8 1\r% 00FF\r%%EndPreview\r", ST_READ_ERROR, {}},
        {"depth 3", head + "%%BeginPreview: 4 2 3 1\r% 00\r", ST_BAD_FILE, {}},
        {"no preview before the prolog", head + "%%BeginProlog\r%%BeginPreview: 4 2 8 1\r% 00\r", ST_BAD_FILE, {}},
        {"PostScript, not EPS", "%!PS-Adobe-3.0\r%%BeginPreview: 4 2 8 1\r% 00\r", ST_UNKNOWN_FORMAT, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_EQ(c.status, loadBytesAs("eps", Bytes(c.text.begin(), c.text.end()), &img));
        if (c.status != ST_OK) continue;
        const Rgb got = toRgb(img);
        for (size_t i = 0; i < c.grey.size(); ++i) EXPECT_NEAR(c.grey[i], got.pixels[3 * i], 1) << i;
    }
}

TEST(EpsReader, TiffPreviews) {
    if (!haveProgram("tifftopnm")) GTEST_SKIP() << "netpbm missing";
    std::vector<std::string> files;
    if (corpusPresent()) files.push_back(corpusPath("eps/1.eps"));
    if (haveProgram("gm")) {
        const std::string ppm = tempPath("ept.ppm"), ept = tempPath("gm.eps");
        ASSERT_TRUE(writeFile(ppm, patternP6(33, 21)));
        ASSERT_EQ(0, run(shell("gm convert IN ept:OUT", {{"IN", ppm}, {"OUT", ept}})));
        files.push_back(ept);
    }
    if (files.empty()) GTEST_SKIP() << "no DOS EPS file";
    for (const std::string& f : files) {
        SCOPED_TRACE(f);
        Bytes eps;
        ASSERT_TRUE(readFile(f, &eps));
        Rgb want;
        ASSERT_TRUE(tiffPreview(eps, &want));
        OwnedImage img;
        ASSERT_EQ(ST_OK, load(f, &img));
        EXPECT_EQ(0, compareRgb(toRgb(img), want));
        // A preview that reaches past the end of the file.
        const uint32_t end = (eps[20] | eps[21] << 8 | eps[22] << 16 | uint32_t(eps[23]) << 24) +
                             (eps[24] | eps[25] << 8 | eps[26] << 16 | uint32_t(eps[27]) << 24);
        Bytes cut(eps.begin(), eps.begin() + end - 1);
        OwnedImage none;
        EXPECT_EQ(ST_READ_ERROR, loadBytesAs("eps", cut, &none));
    }
}

TEST(EpsReader, WithoutPreview) {
    if (!corpusPresent()) GTEST_SKIP() << "no corpus";
    OwnedImage img;
    EXPECT_EQ(ST_BAD_FILE, load(corpusPath("eps/input.eps"), &img));
}

}  // namespace
