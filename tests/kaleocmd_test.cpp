// kaleocmd: the exported-script syntax, sequence naming, output planning, the
// automatic conversion for a format, and whole runs of the converter.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "cmdline.h"
#include "convert.h"
#include "dither.h"
#include "testutil.h"

using namespace testutil;

namespace {

// The words of a line as kaleocmd's script runner splits them (quotes honoured).
std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> w;
    std::string error;
    EXPECT_TRUE(splitScriptLine(line, &w, &error)) << line << ": " << error;
    return w;
}

bool parse(const std::string& line, CmdJob* job, std::string* error) {
    std::vector<std::string> w = words(line);
    std::vector<const char*> argv;
    for (const std::string& s : w) argv.push_back(s.c_str());
    return parseCommandLine(static_cast<int>(argv.size()), argv.data(), job, error);
}

std::string kaleocmd() { return std::string(KALEO_BUILD_DIR) + "/kaleocmd"; }

bool exists(const std::string& path) {
    struct stat sb;
    return stat(path.c_str(), &sb) == 0;
}

// A picture with several colours, saved as a bitmap.
std::string sampleBmp(const std::string& name, int w = 12, int h = 9) {
    OwnedImage img;
    EXPECT_TRUE(createImage(&img, IMG_RGB, 1, w, h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w * 3; ++x) imageRow(&img, y)[x] = static_cast<uint8_t>((x * 37 + y * 91) & 0xFF);
    std::string path = tempPath(name);
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(findFormat("bmp"));
    char buf[FILE_NAME_LEN];
    snprintf(buf, sizeof buf, "%s", path.c_str());
    EXPECT_EQ(ST_OK, saveImage(buf, &img, &o));
    return path;
}

}  // namespace

TEST(KaleocmdScript, ExportedLinesParseAndComeBackUnchanged) {
    // Lines in the exact form the viewer's script export writes them.
    const char* lines[] = {
        "kaleocmd -size 70x46+0 -ctype rgb -corder inter -out bmp -o /tmp/out/ a.gif b.gif",
        "kaleocmd -npcd 2 -size 640x480+128 -ctype cmyk -corder sep -out tiff -D -o /x/ pic.pcd",
        "kaleocmd -size 0x0+0 -ctype grey -corder seq -in gif -n 1 10 2 -out png -o /d/img### /s/frame###.gif",
        "kaleocmd -size 0x0+0 -ctype rgb -corder inter -out bmp -ratio -rtype quick -resize 50% 25% a.bmp",
        "kaleocmd -size 0x0+0 -ctype rgb -corder inter -out bmp -rtype linear -resize 640 480 -crop 1 2 30 40 a.bmp",
        "kaleocmd -size 0x0+0 -ctype rgb -corder inter -out gif -dither -colors 216 -grey 16 -binary floyd a.bmp",
        "kaleocmd -size 0x0+0 -ctype abgr -corder inter -out bmp -gamma 1.50 -balance -10 0 100 -swap gbr a.bmp",
        "kaleocmd -size 0x0+0 -ctype bgr -corder inter -out bmp -noise reduce -noise gaussian 0.40 "
        "-edgedetect heavy -waves 3.00 5.00 0.00 -ratio -canvas 200 100 -posterize 16 -medianc 5 a.bmp",
        "kaleocmd -size 0x0+0 -ctype rgba -corder inter -out bmp -binary halft45 -binary pattern -colors 8 "
        "-dither -grey 256 -truecolors -swap rbg a.bmp",
        "kaleocmd -size 0x0+0 -ctype rgb -corder inter -out png -o \"/d/my pictures/\" -onlysmaller -rtype linear "
        "-resize 640 480 \"a b.bmp\" \"say \\\"hi\\\".bmp\"",
        "kaleocmd -size 0x0+0 -ctype rgb -corder inter -out bmp -negate -- -a.bmp b.bmp",
    };
    for (const char* line : lines) {
        CmdJob job;
        std::string error;
        ASSERT_TRUE(parse(line, &job, &error)) << line << ": " << error;
        EXPECT_EQ(line, formatScript(job));
    }
}

TEST(KaleocmdScript, ParametersReachTheJob) {
    CmdJob job;
    std::string error;
    ASSERT_TRUE(parse("kaleocmd -npcd 1 -size 320x200+16 -ctype bgr -corder seq -out JPG -ratio -rtype linear "
                      "-resize 50% 50% -dither -colors 32 -j 3 -q 80 -i -seed 7 -thumb 64x48 x.bmp",
                      &job, &error))
        << error;
    EXPECT_EQ(1, job.pcdBase);
    EXPECT_EQ(320, job.rawWidth);
    EXPECT_EQ(200, job.rawHeight);
    EXPECT_EQ(16, job.rawOffset);
    EXPECT_EQ(2, job.channelType);
    EXPECT_EQ(1, job.channelOrder);
    EXPECT_EQ(findFormat("jpeg"), job.outFormat);
    ASSERT_EQ(2u, job.ops.size());
    EXPECT_EQ(findOp("-resize"), job.ops[0].index);
    EXPECT_EQ(1, job.ops[0].percent);
    EXPECT_EQ(1, job.ops[0].keepRatio);
    EXPECT_EQ(RESAMPLE_AREA, job.ops[0].method);
    EXPECT_EQ(CT_COLOURS32, job.ops[1].ints[0]);
    EXPECT_EQ(1, job.ops[1].ints[1]);
    EXPECT_EQ(3, job.threads);
    EXPECT_EQ(80, job.quality);
    EXPECT_TRUE(job.interlace && job.seedSet && job.seed == 7u);
    EXPECT_EQ(64, job.thumbWidth);
    EXPECT_EQ(std::vector<std::string>{"x.bmp"}, job.sources);
}

TEST(KaleocmdScript, MistakesAreRefused) {
    const char* bad[] = {
        "kaleocmd -out nosuchformat a.bmp",
        "kaleocmd -frobnicate a.bmp",
        "kaleocmd -out bmp -colors 100 a.bmp",
        "kaleocmd -out bmp -grey 3 a.bmp",
        "kaleocmd -out bmp -binary zigzag a.bmp",
        "kaleocmd -out bmp -resize 50% 20 a.bmp",
        "kaleocmd -out bmp -rotate 400 a.bmp",
        "kaleocmd -out bmp -gamma x a.bmp",
        "kaleocmd -out bmp -size 10x10 a.bmp",
        "kaleocmd -out bmp -ctype yuv a.bmp",
        "kaleocmd -out bmp a.bmp -dither",
        "kaleocmd -out bmp -ratio a.bmp",
        "kaleocmd -out bmp -noise loud 1 a.bmp",
        "kaleocmd -out bmp -waves 3.00 5.00",
        "kaleocmd -out bmp -j 0 a.bmp",
        "kaleocmd -out",
    };
    for (const char* line : bad) {
        CmdJob job;
        std::string error;
        EXPECT_FALSE(parse(line, &job, &error)) << line;
        EXPECT_FALSE(error.empty()) << line;
    }
}

TEST(KaleocmdScript, WriterSwitchesOutsideTheFormatsRangeAreRefused) {
    struct Case {
        const char* line;
        const char* message;  // empty: accepted
    } cases[] = {
        {"kaleocmd -out tiff -c 4 a.bmp", "tiff compression (-c) takes 0 to 3, not 4"},
        {"kaleocmd -c 2 -out sgi a.bmp", "sgi compression (-c) takes 0 to 1, not 2"},
        {"kaleocmd -out bmp -c 5 a.bmp", "bmp compression (-c) takes 0 to 1, not 5"},
        {"kaleocmd -out tiff -c 3 a.bmp", ""},
        {"kaleocmd -out jpeg -q 0 -i a.bmp", ""},
        {"kaleocmd -out png -q 100 a.bmp", ""},
        {"kaleocmd -out gif -i a.bmp", ""},
        // A switch that the format's writer does not read is a mistake too.
        {"kaleocmd -out pnm -q 80 a.bmp", "pnm has no -q option; kaleocmd -help pnm lists its options"},
        {"kaleocmd -out jpeg -c 9 a.bmp", "jpeg has no -c option; kaleocmd -help jpeg lists its options"},
        {"kaleocmd -check -i a.bmp", "-i applies to an output format (-out)"},
    };
    for (const Case& c : cases) {
        CmdJob job;
        std::string error;
        EXPECT_EQ(parse(c.line, &job, &error), !*c.message) << c.line;
        EXPECT_EQ(error, c.message) << c.line;
    }
    std::string a = sampleBmp("wopt_a.bmp");
    EXPECT_EQ(2, run(kaleocmd() + " -quiet -out tiff -c 9 -o " + tempPath("wopt/") + " " + a + " 2>" +
                     tempPath("wopt.err")));
    std::vector<uint8_t> err;
    ASSERT_TRUE(readFile(tempPath("wopt.err"), &err));
    EXPECT_NE(std::string(err.begin(), err.end()).find("takes 0 to 3, not 9"), std::string::npos);
    EXPECT_FALSE(exists(tempPath("wopt/wopt_a.tif")));
}

TEST(KaleocmdNames, SequencePatterns) {
    struct Case { const char* pattern; int n; const char* name; } cases[] = {
        {"img###.bmp", 7, "img007.bmp"}, {"img", 7, "img7"}, {"img#.bmp", 123, "img123.bmp"},
        {"##x##", 5, "05x##"}, {"/a/b/c####", 42, "/a/b/c0042"}, {"pic#", 0, "pic0"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.name, sequenceName(c.pattern, c.n)) << c.pattern;
}

TEST(KaleocmdNames, OutputsArePlannedWithoutCollisions) {
    std::string folder = tempPath("plan");
    mkdir(folder.c_str(), 0700);
    CmdJob job;
    std::string error;
    ASSERT_TRUE(parse("kaleocmd -out bmp -o " + folder + " a/x.gif b/x.png c/y.gif", &job, &error));
    std::vector<CmdTask> t = planTasks(job);
    ASSERT_EQ(3u, t.size());
    EXPECT_EQ(folder + "/x", t[0].destStem);
    EXPECT_TRUE(t[0].error.empty());
    EXPECT_FALSE(t[1].error.empty());  // a second "x" in the same folder
    EXPECT_TRUE(t[2].error.empty());

    ASSERT_TRUE(parse("kaleocmd -out bmp -o out.bmp a.gif b.gif", &job, &error));
    t = planTasks(job);
    EXPECT_EQ("out.bmp", t[0].destExact);
    EXPECT_FALSE(t[1].error.empty());

    ASSERT_TRUE(parse("kaleocmd -out bmp -n 2 6 2 -o /o/p##.bmp /s/f#.gif", &job, &error));
    t = planTasks(job);
    ASSERT_EQ(3u, t.size());
    EXPECT_EQ("/s/f2.gif", t[0].source);
    EXPECT_EQ("/o/p06.bmp", t[2].destExact);

    ASSERT_TRUE(parse("kaleocmd -out bmp -n 5 1 1 /s/literal.gif", &job, &error));
    t = planTasks(job);  // an end below the start converts the pattern once as a plain name
    ASSERT_EQ(1u, t.size());
    EXPECT_EQ("/s/literal.gif", t[0].source);
    EXPECT_EQ("/s/literal", t[0].destStem);
}

TEST(KaleocmdConversion, ChoosesWhatTheFormatAccepts) {
    struct Case { const char* format; uint16_t kind; int colours; bool convert; int target; } cases[] = {
        {"gif", IMG_RGB, 0, true, CT_COLOURS256},
        {"gif", IMG_PALETTE, 200, false, 0},
        {"jpeg", IMG_PALETTE, 16, true, CT_TRUECOLOUR},
        {"xbm", IMG_RGB, 0, true, CT_BINARY},
        {"psion5", IMG_GREY, 256, true, CT_GREY16},
        {"palm", IMG_BGR32, 0, true, CT_GREY4},
        {"bmp", IMG_BGR, 0, false, 0},
        {"degas", IMG_RGB, 0, true, CT_COLOURS256},
    };
    for (const Case& c : cases) {
        Image img{};
        img.kind = c.kind;
        img.colours = c.colours;
        int target = -1, method = -1;
        EXPECT_EQ(c.convert, chooseConversion(findFormat(c.format), &img, &target, &method)) << c.format;
        if (c.convert) EXPECT_EQ(c.target, target) << c.format;
    }
}

TEST(KaleocmdRun, ExitStatusAndErrorsPerFile) {
    std::string a = sampleBmp("run_a.bmp");
    std::string out = tempPath("runout/");
    std::string cmd = kaleocmd() + " -quiet -out bmp -o " + out + " " + a + " " + tempPath("missing.bmp") +
                      " 2>" + tempPath("run.err");
    EXPECT_EQ(1, run(cmd));  // one failure: status 1, the batch goes on
    EXPECT_TRUE(exists(out + "run_a.bmp"));
    std::vector<uint8_t> err;
    ASSERT_TRUE(readFile(tempPath("run.err"), &err));
    std::string text(err.begin(), err.end());
    EXPECT_NE(std::string::npos, text.find("missing.bmp: cannot open the file"));
    EXPECT_EQ(1, std::count(text.begin(), text.end(), '\n'));

    // An existing output is an error unless -overwrite.
    EXPECT_EQ(1, run(kaleocmd() + " -quiet -out bmp -o " + out + " " + a + " 2>/dev/null"));
    EXPECT_EQ(0, run(kaleocmd() + " -quiet -overwrite -out bmp -o " + out + " " + a));
    EXPECT_EQ(2, run(kaleocmd() + " -nosuchoption " + a + " 2>/dev/null"));
    EXPECT_EQ(0, run(kaleocmd() + " -l >/dev/null"));
}

TEST(KaleocmdRun, DeleteNeverRemovesTheDestination) {
    std::string a = sampleBmp("del_a.bmp");
    // Converted onto itself (same folder, same extension): refused, the input stays.
    EXPECT_EQ(1, run(kaleocmd() + " -quiet -overwrite -D -out bmp " + a + " 2>/dev/null"));
    EXPECT_TRUE(exists(a));
    // Spelled through another path to the same folder.
    std::string dir = tempPath("");
    EXPECT_EQ(1, run(kaleocmd() + " -quiet -overwrite -D -out bmp -o " + dir + "./ " + a + " 2>/dev/null"));
    EXPECT_TRUE(exists(a));
    // A real conversion elsewhere deletes the original.
    EXPECT_EQ(0, run(kaleocmd() + " -quiet -D -out bmp -o " + tempPath("moved/") + " " + a));
    EXPECT_FALSE(exists(a));
    EXPECT_TRUE(exists(tempPath("moved/del_a.bmp")));
}

TEST(KaleocmdRun, ThreadsWriteTheSameBytesAsOneThread) {
    std::string list;
    for (int i = 0; i < 8; ++i) list += " " + sampleBmp("thr" + std::to_string(i) + ".bmp", 30 + i, 20 + i);
    std::string ops = " -c 1 -colors 16 -negate -rotate 90 ";
    ASSERT_EQ(0, run(kaleocmd() + " -quiet -j 1 -out bmp" + ops + "-o " + tempPath("one/") + list + " 2>/dev/null"));
    ASSERT_EQ(0, run(kaleocmd() + " -quiet -j 4 -out bmp" + ops + "-o " + tempPath("four/") + list + " 2>/dev/null"));
    for (int i = 0; i < 8; ++i) {
        std::vector<uint8_t> x, y;
        std::string n = "thr" + std::to_string(i) + ".bmp";
        ASSERT_TRUE(readFile(tempPath("one/" + n), &x));
        ASSERT_TRUE(readFile(tempPath("four/" + n), &y));
        EXPECT_EQ(x, y) << n;
    }
}
