// kaleocmd as users run it: the built program with hostile file names, full
// disks, standard streams, lists, scripts, resumed runs and several workers.
// The program is started with its arguments as they are (no shell between),
// except where a test needs a shell's file-size limit.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>

#include "cmdline.h"
#include "convert.h"
#include "dither.h"
#include "kit.h"
#include "optable.h"
#include "testpictures.h"
#include "writeoptions.h"

extern char** environ;
using namespace testutil;
namespace fs = std::filesystem;

namespace {

std::string kaleocmd() { return std::string(KALEO_BUILD_DIR) + "/kaleocmd"; }

struct Ran {
    int status = -1;
    std::string out, err;
};

std::string slurp(const std::string& path) {
    std::vector<uint8_t> b;
    readFile(path, &b);
    return std::string(b.begin(), b.end());
}

// Runs a program with exactly these arguments; standard input from a file when given.
Ran runArgs(const std::vector<std::string>& args, const std::string& input = "") {
    static int serial = 0;
    std::string out = tempPath("cli_out" + std::to_string(++serial)), err = out + ".err";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, input.empty() ? "/dev/null" : input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    Ran r;
    if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) == 0) {
        int ws = 0;
        waitpid(pid, &ws, 0);
        r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
    }
    posix_spawn_file_actions_destroy(&fa);
    r.out = slurp(out);
    r.err = slurp(err);
    return r;
}

Ran runKaleocmd(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), kaleocmd());
    return runArgs(args, input);
}

std::string writeBmp(const std::string& path, int w, int h) {
    OwnedImage img;
    EXPECT_TRUE(createImage(&img, IMG_RGB, 1, w, h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w * 3; ++x) imageRow(&img, y)[x] = static_cast<uint8_t>((x * 29 + y * 53) & 0xFF);
    EXPECT_EQ(ST_OK, saveAs(&img, path, "bmp"));
    return path;
}

// Every regular file under a folder with its bytes.
std::map<std::string, std::string> snapshot(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (auto& e : fs::recursive_directory_iterator(dir))
        if (!fs::is_symlink(e.symlink_status()) && e.is_regular_file())
            files[e.path().string()] = slurp(e.path().string());
    return files;
}

const char* const HOSTILE[] = {"it's.bmp",        "say \"hi\".bmp", "$(touch pwned).bmp", "x; touch pwned.bmp",
                               "-D",              "with space.bmp", "new\nline.bmp",      "\xff\xfe latin.bmp",
                               "`touch pwned`.bmp"};

}  // namespace

TEST(KaleocmdCli, EachRuleFromTheCommandLine) {
    struct Case {
        const char* name;
        std::vector<std::string> args;  // {D} is the case's folder
        int status;
        std::vector<std::string> made;     // must exist afterwards ({D}-relative)
        std::vector<std::string> absent;   // must not exist afterwards
        const char* say;                   // in standard error, or ""
        std::function<void(const std::string&)> setup = nullptr;
    };
    std::vector<std::string> hostileArgs = {"-out", "png", "--"};
    std::vector<std::string> hostileOutputs;
    for (const char* h : HOSTILE) {
        hostileArgs.push_back(std::string("{D}/") + h);
        std::string n = h;
        hostileOutputs.push_back((n == "-D" ? n : n.substr(0, n.size() - 4)) + ".png");
    }
    const std::string evilFolder = "o'; touch pwned; '\"$(touch pwned)\"/";
    std::vector<Case> cases = {
        {"hostile names convert, nothing runs, -D after -- is a file", hostileArgs, 0, hostileOutputs,
         {"pwned", "-D.bmp"}, ""},
        {"hostile output folder is made without a shell", {"-out", "png", "-o", "{D}/" + evilFolder, "{D}/a.bmp"}, 0,
         {evilFolder + "a.png"}, {"pwned"}, ""},
        {"an output never replaces another input", {"-overwrite", "-out", "png", "{D}/a.bmp", "{D}/a.png"}, 1, {},
         {}, "a.png would replace another input",
         [](const std::string& d) { fs::copy_file(d + "/b.png", d + "/a.png"); }},
        {"an output never replaces its own input", {"-overwrite", "-D", "-out", "bmp", "{D}/a.bmp"}, 1, {"a.bmp"}, {},
         "is the input itself"},
        {"a dangling link is not followed", {"-out", "png", "{D}/a.bmp"}, 1, {}, {"elsewhere/victim.png"}, "exists",
         [](const std::string& d) { symlink((d + "/elsewhere/victim.png").c_str(), (d + "/a.png").c_str()); }},
        {"numbered files keep their numbers", {"-out", "bmp", "-o", "{D}/n/", "{D}/scan.001", "{D}/scan.002"}, 0,
         {"n/scan.001.bmp", "n/scan.002.bmp"}, {}, ""},
        {"two inputs for one output: nothing is written", {"-out", "png", "-o", "{D}/c/", "{D}/a.bmp", "{D}/c2/a.gif"},
         1, {}, {"c/a.png"}, "nothing was written"},
        {"format from the output's extension", {"{D}/a.bmp", "-o", "{D}/x.PNG"}, 0, {"x.PNG"}, {}, ""},
        {"format aliases in any case", {"-out", "JPG", "-q", "90", "-o", "{D}/j/", "{D}/a.bmp"}, 0, {"j/a.jpg"}, {},
         ""},
        {"-out contradicting the extension", {"-out", "jpeg", "{D}/a.bmp", "-o", "{D}/x.png"}, 2, {}, {"x.png"},
         "contradicts"},
        {"a format without a writer", {"-out", "psd", "{D}/a.bmp"}, 2, {}, {}, "writable formats: "},
        {"a writer switch the format ignores", {"-out", "png", "-c", "1", "{D}/a.bmp"}, 2, {}, {"a.png"},
         "png has no -c option"},
        {"a page past the last", {"-out", "png", "-page", "3", "{D}/a.bmp"}, 1, {}, {"a.png"}, "has 1 page"},
        {"pixel limit refuses", {"-limit", "100", "-out", "png", "{D}/a.bmp"}, 1, {}, {"a.png"}, "a.bmp"},
        {"pixel limit admits", {"-limit", "108", "-out", "png", "{D}/a.bmp"}, 0, {"a.png"}, {}, ""},
        {"unreadable input named with its reason", {"-out", "png", "{D}/none.bmp", "{D}/a.bmp"}, 1, {"a.png"}, {},
         "none.bmp: cannot open the file: No such file"},
        {"list of inputs, NUL-separated", {"-out", "png", "-@", "{D}/list", "-0"}, 0,
         {"with space.png", "new\nline.png"}, {}, "",
         [](const std::string& d) {
             std::string l = d + "/with space.bmp";
             l += '\0';
             l += d + "/new\nline.bmp";
             writeFile(d + "/list", std::vector<uint8_t>(l.begin(), l.end()));
         }},
        {"script with CRLF, quotes and comments", {"-script", "{D}/run.txt"}, 0, {"s p/with space.png"}, {}, "",
         [](const std::string& d) {
             std::string s = "# exported by the viewer\r\nkaleocmd -size 0x0+0 -ctype rgb -corder inter -out png -o \"" +
                             d + "/s p/\" \"" + d + "/with space.bmp\"\r\n";
             writeFile(d + "/run.txt", std::vector<uint8_t>(s.begin(), s.end()));
         }},
        {"progress lines on standard error", {"-progress", "-out", "png", "{D}/a.bmp", "{D}/scan.001"}, 0,
         {"a.png"}, {}, "2/2 "},
        {"-help FORMAT", {"-help", "TIF"}, 0, {}, {}, ""},
    };
    int serial = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string d = tempPath("cli" + std::to_string(++serial));
        fs::remove_all(d);
        fs::create_directories(d + "/elsewhere");
        fs::create_directories(d + "/c2");
        writeBmp(d + "/a.bmp", 12, 9);
        ASSERT_EQ(ST_OK, [&] {
            OwnedImage img;
            Status st = load(d + "/a.bmp", &img);
            if (st == ST_OK) st = saveAs(&img, d + "/b.png", "png");
            if (st == ST_OK) st = convertImage(&img, nullptr, CT_COLOURS256, DM_NONE);
            if (st == ST_OK) st = saveAs(&img, d + "/c2/a.gif", "gif");
            return st;
        }());
        fs::copy_file(d + "/a.bmp", d + "/scan.001");
        writeBmp(d + "/scan.002", 5, 4);
        for (const char* h : HOSTILE) fs::copy_file(d + "/a.bmp", d + "/" + h);
        if (c.setup) c.setup(d);
        auto before = snapshot(d);
        std::vector<std::string> args;
        for (std::string a : c.args) {
            for (size_t p; (p = a.find("{D}")) != std::string::npos;) a.replace(p, 3, d);
            args.push_back(a);
        }
        Ran r = runKaleocmd(args);
        EXPECT_EQ(c.status, r.status) << r.err;
        if (*c.say) EXPECT_NE(std::string::npos, r.err.find(c.say)) << r.err;
        for (const std::string& m : c.made) EXPECT_TRUE(fs::exists(fs::symlink_status(d + "/" + m))) << m;
        for (const std::string& a : c.absent) EXPECT_FALSE(fs::exists(fs::symlink_status(d + "/" + a))) << a;
        // Inputs stay as they were, and no temporary is left behind.
        auto after = snapshot(d);
        for (const auto& f : before) {
            auto it = after.find(f.first);
            EXPECT_TRUE(it != after.end() && it->second == f.second) << f.first;
        }
        for (const auto& f : after) EXPECT_EQ(std::string::npos, f.first.find(".kaleocmd-")) << f.first;
        EXPECT_FALSE(fs::exists(d + "/pwned"));
        EXPECT_FALSE(fs::exists("pwned"));
    }
}

TEST(KaleocmdCli, FullDiskLeavesNoPartialFile) {
    std::string d = tempPath("clifull");
    fs::remove_all(d);
    fs::create_directories(d + "/out");
    writeBmp(d + "/big.bmp", 300, 200);
    writeBmp(d + "/small.bmp", 4, 4);
    // A file-size limit of 64 blocks stands for a full disk: the big picture does not fit.
    Ran r = runArgs({"/bin/sh", "-c", "ulimit -f 64; exec \"$0\" \"$@\"", kaleocmd(), "-out", "bmp", "-o", d + "/out/",
                     d + "/big.bmp", d + "/small.bmp"});
    EXPECT_EQ(1, r.status) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("cannot write " + d + "/out/big.bmp: File too large")) << r.err;
    EXPECT_TRUE(fs::exists(d + "/out/small.bmp"));  // the other files go on
    for (auto& e : fs::directory_iterator(d + "/out")) EXPECT_EQ("small.bmp", e.path().filename().string());
}

TEST(KaleocmdCli, StandardInputToStandardOutputAndJson) {
    std::string d = tempPath("clistd");
    fs::remove_all(d);
    fs::create_directories(d);
    writeBmp(d + "/a.bmp", 12, 9);
    OwnedImage ref;
    ASSERT_EQ(ST_OK, load(d + "/a.bmp", &ref));
    ASSERT_EQ(ST_OK, convertImage(&ref, nullptr, CT_COLOURS256, DM_NONE));
    ASSERT_EQ(ST_OK, saveAs(&ref, d + "/a.gif", "gif"));
    Ran r = runKaleocmd({"-out", "tiff", "-", "-o", "-"}, d + "/a.gif");  // TIFF seeks: buffered
    ASSERT_EQ(0, r.status) << r.err;
    writeFile(d + "/back.tif", std::vector<uint8_t>(r.out.begin(), r.out.end()));
    OwnedImage back;
    ASSERT_EQ(ST_OK, load(d + "/back.tif", &back));
    EXPECT_EQ(0, compareRgb(toRgb(ref), toRgb(back)));
    EXPECT_EQ("", r.err);

    r = runKaleocmd({"-json", "-out", "png", "-o", d + "/j/", d + "/a.bmp", d + "/\xff.bmp"});
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.out.find("{\"input\":\"" + d + "/a.bmp\",\"output\":\"" + d +
                                            "/j/a.png\",\"status\":0,\"message\":\"ok\",\"ms\":"))
        << r.out;
    EXPECT_NE(std::string::npos, r.out.find("\\udcff.bmp\",\"output\":null,\"status\":4,")) << r.out;
    r = runKaleocmd({"-json", "-info", d + "/a.gif"});
    EXPECT_NE(std::string::npos, r.out.find("\"format\":\"gif\"")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("\"width\":12,\"height\":9")) << r.out;
}

TEST(KaleocmdCli, EveryDocumentedRangeWorksAtBothEnds) {
    std::string a = writeBmp(tempPath("cliranges.bmp"), 16, 12);
    for (int k = 0; opEntry(k); ++k) {
        const OpEntry* e = opEntry(k);
        if (e->kind != OPK_INT) continue;
        for (int v : {e->params[0].minimum, e->params[0].maximum}) {
            Ran r = runKaleocmd({"-check", "-quiet", e->option, std::to_string(v), a});
            EXPECT_EQ(0, r.status) << e->option << " " << v << ": " << r.err;
        }
        Ran r = runKaleocmd({"-check", e->option, std::to_string(e->params[0].maximum + 1), a});
        EXPECT_EQ(2, r.status) << e->option;
    }
}

TEST(KaleocmdCli, HugeSequencesAreStreamed) {
    CmdJob job;
    std::string error;
    const char* argv[] = {"kaleocmd", "-out", "bmp", "-n", "1", "1000000000", "1", "/s/f#.gif"};
    ASSERT_TRUE(parseCommandLine(8, argv, &job, &error)) << error;
    TaskFeed feed;
    startFeed(&feed, job);
    EXPECT_EQ(1000000000, feed.total);
    CmdTask t;
    for (int i = 1; i <= 3; ++i) {
        ASSERT_TRUE(nextTask(&feed, &t));
        EXPECT_EQ("/s/f" + std::to_string(i) + ".gif", t.source);
    }
}

TEST(KaleocmdCli, TwoWorkersWriteAndLogLikeOne) {
    std::string d = tempPath("clij");
    fs::remove_all(d);
    fs::create_directories(d);
    std::vector<std::string> files;
    for (int i = 0; i < 12; ++i) files.push_back(writeBmp(d + "/p" + std::to_string(i) + ".bmp", 40 + i, 30));
    files.push_back(d + "/missing.bmp");
    auto runWith = [&](const char* j, const char* out) {
        std::vector<std::string> args = {"-j", j, "-out", "png", "-colors", "16", "-o", d + "/" + out + "/"};
        args.insert(args.end(), files.begin(), files.end());
        return runKaleocmd(args);
    };
    Ran one = runWith("1", "one"), two = runWith("2", "two");
    EXPECT_EQ(1, one.status);
    EXPECT_EQ(1, two.status);
    auto strip = [](std::string s, const std::string& from) {
        for (size_t p; (p = s.find(from)) != std::string::npos;) s.replace(p, from.size(), "X");
        return s;
    };
    EXPECT_EQ(strip(one.err, "/one/"), strip(two.err, "/two/"));
    for (int i = 0; i < 12; ++i) {
        std::string n = "/p" + std::to_string(i) + ".png";
        EXPECT_EQ(slurp(d + "/one" + n), slurp(d + "/two" + n)) << n;
    }
}

TEST(KaleocmdCli, AnInterruptedRunResumes) {
    std::string d = tempPath("cliresume");
    fs::remove_all(d);
    fs::create_directories(d + "/out");
    std::string list;
    for (int i = 0; i < 40; ++i) list += writeBmp(d + "/r" + std::to_string(i) + ".bmp", 400, 300) + "\n";
    writeFile(d + "/list", std::vector<uint8_t>(list.begin(), list.end()));
    // Stopped part way through by an interrupt: whatever is written is whole.
    runArgs({"/usr/bin/timeout", "-s", "INT", "0.3", kaleocmd(), "-j", "1", "-out", "tiff", "-c", "2", "-o",
             d + "/out/", "-@", d + "/list"});
    size_t done = 0;
    for (auto& e : fs::directory_iterator(d + "/out")) {
        EXPECT_EQ(std::string::npos, e.path().string().find(".kaleocmd-"));
        ++done;
    }
    Ran r = runKaleocmd({"-resume", "-progress", "-out", "tiff", "-c", "2", "-o", d + "/out/", "-@", d + "/list"});
    EXPECT_EQ(0, r.status) << r.err;
    size_t skipped = 0;
    for (size_t p = 0; (p = r.err.find("skipped", p)) != std::string::npos; ++p) ++skipped;
    EXPECT_EQ(done, skipped);
    for (int i = 0; i < 40; ++i) {
        OwnedImage a, b;
        ASSERT_EQ(ST_OK, load(d + "/r" + std::to_string(i) + ".bmp", &a));
        ASSERT_EQ(ST_OK, load(d + "/out/r" + std::to_string(i) + ".tif", &b)) << i;
        EXPECT_EQ(0, compareRgb(toRgb(a), toRgb(b))) << i;
    }
}

TEST(KaleocmdCli, GnuParallelAsTheMapStep) {
    if (!haveProgram("parallel")) GTEST_SKIP() << "GNU parallel is not installed";
    std::string d = tempPath("cliparallel");
    fs::remove_all(d);
    fs::create_directories(d + "/out");
    std::string list;
    for (int i = 0; i < 6; ++i) list += writeBmp(d + "/m" + std::to_string(i) + ".bmp", 20, 10 + i) + "\n";
    writeFile(d + "/list", std::vector<uint8_t>(list.begin(), list.end()));
    // Two slots on this machine stand for two hosts; each runs kaleocmd on its share.
    Ran r = runArgs({"/bin/sh", "-c",
                     "parallel --will-cite --sshlogin 1/: --sshlogin 1/: -N 2 \"$0\" -json -quiet -out png -o \"$1\" "
                     "-- {} < \"$2\"",
                     kaleocmd(), d + "/out/", d + "/list"});
    EXPECT_EQ(0, r.status) << r.err;
    size_t lines = 0;
    for (size_t p = 0; (p = r.out.find("\"status\":0", p)) != std::string::npos; ++p) ++lines;
    EXPECT_EQ(6u, lines) << r.out;
    for (int i = 0; i < 6; ++i) EXPECT_TRUE(fs::exists(d + "/out/m" + std::to_string(i) + ".png"));
}

// The library's warnings name their file and leave with its lines, whichever
// worker read it: two cut JPEG files converted on two threads.
TEST(KaleocmdCli, LibraryWarningsNameTheirFile) {
    const std::string dir = tempPath("cli_warn");
    fs::create_directories(dir);
    OwnedImage img;
    ASSERT_TRUE(createImage(&img, IMG_RGB, 1, 128, 128));
    uint32_t seed = 1;
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128 * 3; ++x) imageRow(&img, y)[x] = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 24);
    std::vector<std::string> names;
    for (const char* name : {"first.jpg", "second.jpg"}) {
        const std::string path = dir + "/" + name;
        ASSERT_EQ(saveAs(&img, path, "jpeg"), ST_OK);
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(readFile(path, &bytes));
        bytes.resize(bytes.size() / 2);
        ASSERT_TRUE(writeFile(path, bytes));
        names.push_back(path);
    }
    const Ran r = runKaleocmd({"-j", "2", "-json", "-out", "png", "-o", dir + "/out/", names[0], names[1]});
    EXPECT_EQ(r.status, 1);  // cut files are read errors
    EXPECT_NE(r.out.find("\"status\":3"), std::string::npos) << r.out;
    for (const std::string& n : names) {
        EXPECT_NE(r.err.find("kaleocmd: " + n + ": warning: Premature end of JPEG file"), std::string::npos) << r.err;
        EXPECT_NE(r.out.find("\"input\":\"" + n + "\""), std::string::npos);
    }
    EXPECT_NE(r.out.find("\"warnings\":[\"Premature end of JPEG file\"]"), std::string::npos) << r.out;
    // Nothing of libjpeg's own printing is left.
    EXPECT_EQ(r.err.find("\nPremature end"), std::string::npos) << r.err;
    EXPECT_NE(r.err.rfind("Premature end", 0), 0u);
}

// -info names how each file codes its pixels.
TEST(KaleocmdCli, InfoNamesTheCompression) {
    OwnedImage grey;
    ASSERT_TRUE(createImage(&grey, IMG_GREY, 1, 40, 30));
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) imageRow(&grey, y)[x] = static_cast<uint8_t>(x / 8 * 40);
    const struct {
        const char* format;
        int16_t option1;
        const char* compression;
    } cases[] = {
        {"bmp", 0, "none"}, {"bmp", 1, "RLE8"},    {"tiff", TIFF_SAVE_NONE, "none"},
        {"tiff", TIFF_SAVE_LZW, "LZW"},          {"tiff", TIFF_SAVE_PACKBITS, "PackBits"},
        {"tga", 1, "RLE"},  {"pcx", 1, "RLE"},     {"sgi", 1, "RLE"},
        {"iff", 1, "ByteRun1"}, {"png", 0, "deflate"}, {"gif", 0, "LZW"},
        {"jpeg", 0, "JPEG"}, {"pnm", 0, "none"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.format) + " " + c.compression);
        const std::string path = tempPath("cli_info" + std::to_string(n++) + "." + c.format);
        ASSERT_EQ(saveAs(&grey, path, c.format, c.option1, c.format == std::string("jpeg") ? 90 : 0), ST_OK);
        const Ran r = runKaleocmd({"-info", "-json", path});
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find(std::string("\"compression\":\"") + c.compression + "\""), std::string::npos) << r.out;
    }
}

// A folder nobody may write to (sysfs refuses even root): each file says why,
// the run goes on to the next one and ends with status 1.
TEST(KaleocmdCli, ReadOnlyFolderNamesEachFileAndItsReason) {
    if (!fs::is_directory("/sys/kernel")) GTEST_SKIP() << "no sysfs";
    const std::string a = writeBmp(tempPath("cli_ro_a.bmp"), 8, 8), b = writeBmp(tempPath("cli_ro_b.bmp"), 8, 8);
    const Ran r = runKaleocmd({"-out", "png", "-o", "/sys/kernel/", "--", a, b});
    EXPECT_EQ(r.status, 1);
    for (const char* name : {"cli_ro_a", "cli_ro_b"})
        EXPECT_NE(r.err.find(std::string("cannot write /sys/kernel/") + name + ".png: "), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists("/sys/kernel/cli_ro_a.png"));
}

// A thumbnail averages the whole footprint of each of its pixels: a picture of
// one-pixel black and white squares comes out an even grey (picking one
// pixel for each would give all black), at the size a bounded load gives.
// Thumbnails are filtered like a careful resize of the whole picture: against
// ImageMagick's Lanczos resize of the full picture, the one from a BMP (loaded
// whole) agrees to a rounding, the one from a JPEG (decoded at a reduced scale)
// stays close.
TEST(KaleocmdCli, ThumbnailsMatchAFilteredResize) {
    if (!haveProgram("convert-im6.q16")) GTEST_SKIP() << "convert-im6.q16 missing";
    OwnedImage photo;
    ASSERT_TRUE(testpictures::makePhoto(&photo, 1200, 900));
    const struct {
        const char* format;
        double worstMeanError;  // mean absolute difference per sample
    } cases[] = {{"bmp", 0.6}, {"jpeg", 2.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        const std::string in = tempPath(std::string("cli_photo.") + c.format);
        ASSERT_EQ(saveAs(&photo, in, c.format), ST_OK);
        const std::string ref = tempPath("cli_thumb_ref.ppm"), out = tempPath("cli_thumb_out.ppm");
        ASSERT_EQ(run("convert-im6.q16 " + in + " -filter Lanczos -resize 100x100 -depth 8 ppm:" + ref), 0);
        const Ran r = runKaleocmd({"-quiet", "-overwrite", "-thumb", "100x100", "-out", "pnm", "-o", out, in});
        ASSERT_EQ(r.status, 0) << r.err;
        Rgb ours, theirs;
        ASSERT_TRUE(readPnmReference(out, &ours));
        ASSERT_TRUE(readPnmReference(ref, &theirs));
        ASSERT_EQ(ours.width, 100);
        ASSERT_EQ(ours.height, 75);
        ASSERT_EQ(ours.pixels.size(), theirs.pixels.size());
        double total = 0;
        for (size_t i = 0; i < ours.pixels.size(); ++i) total += std::abs(int(ours.pixels[i]) - int(theirs.pixels[i]));
        EXPECT_LE(total / ours.pixels.size(), c.worstMeanError);
    }
}

TEST(KaleocmdCli, ThumbnailsAverageTheirFootprint) {
    OwnedImage checks;
    ASSERT_TRUE(createImage(&checks, IMG_RGB, 1, 640, 480));
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640 * 3; ++x) imageRow(&checks, y)[x] = ((x / 3 + y) & 1) ? 255 : 0;
    for (const char* format : {"bmp", "png"}) {
        SCOPED_TRACE(format);
        const std::string in = tempPath(std::string("cli_checks.") + format);
        ASSERT_EQ(saveAs(&checks, in, format, 0, 0), ST_OK);
        const std::string out = tempPath(std::string("cli_thumb_") + format + ".ppm");
        const Ran r = runKaleocmd({"-quiet", "-overwrite", "-thumb", "64x64", "-out", "pnm", "-o", out, in});
        ASSERT_EQ(r.status, 0) << r.err;
        Rgb thumb;
        ASSERT_TRUE(readPnmReference(out, &thumb));
        EXPECT_EQ(thumb.width, 64);
        EXPECT_EQ(thumb.height, 48);
        int worst = 0;
        for (int v : thumb.pixels) worst = std::max(worst, std::abs(v - 128));
        EXPECT_LE(worst, 8);
    }
}

// A quarter turn that ends the operations is made by the save (no turned
// copy); what is written must not change: the same run ended by a crop to the
// whole turned picture takes the ordinary path.
TEST(KaleocmdCli, AQuarterTurnAtTheEndWritesWhatTheOperationWrites) {
    const std::string d = tempPath("cli_turn");
    fs::remove_all(d);
    fs::create_directories(d);
    writeBmp(d + "/rgb.bmp", 150, 97);
    OwnedImage palette;
    ASSERT_TRUE(testpictures::makePicture(&palette, IMG_PALETTE, 150, 97));
    ASSERT_EQ(saveAs(&palette, d + "/pal.png", "png"), ST_OK);
    // gif takes the rgb picture converted to a palette first
    for (const char* in : {"rgb.bmp", "pal.png"})
        for (const char* out : {"pnm", "bmp", "png", "gif", "tiff"})
            for (const char* angle : {"90", "-90"}) {
                SCOPED_TRACE(std::string(in) + " " + out + " " + angle);
                const Ran a = runKaleocmd({"-quiet", "-out", out, "-rotate", angle, "-o", d + "/a/", d + "/" + in});
                const Ran b = runKaleocmd(
                    {"-quiet", "-out", out, "-rotate", angle, "-crop", "0", "0", "97", "150", "-o", d + "/b/", d + "/" + in});
                ASSERT_EQ(a.status, 0) << a.err;
                ASSERT_EQ(b.status, 0) << b.err;
                const auto as = snapshot(d + "/a"), bs = snapshot(d + "/b");
                ASSERT_EQ(as.size(), 1u);
                ASSERT_EQ(bs.size(), 1u);
                EXPECT_EQ(as.begin()->second, bs.begin()->second);
                fs::remove_all(d + "/a");
                fs::remove_all(d + "/b");
            }
}
