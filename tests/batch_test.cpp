// The batch conversions without windows: numbered names, the plan of a
// multiple conversion, conversion codes against the formats, the exported
// script read back by kaleocmd's own parser, and one run of the viewer's
// file conversion against kaleocmd running the exported script.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "batchlogic.h"
#include "cmdline.h"
#include "convert.h"
#include "dither.h"
#include "testpictures.h"
#include "testutil.h"

namespace {

TEST(BatchNames, SequenceNames) {
    struct Case {
        const char* pattern;
        int number;
        const char* name;
    } cases[] = {
        {"img###.bmp", 7, "img007.bmp"},  {"img", 7, "img7"},          {"img#.bmp", 1234, "img1234.bmp"},
        {"img.bmp", 7, "img7.bmp"},       {"a##b##", 3, "a03b##"},     {"C:\\x.y\\scan", 12, "C:\\x.y\\scan12"},
        {"###", -5, "-05"},               {"p.tar.gz", 2, "p.tar2.gz"},
    };
    for (const Case& c : cases) EXPECT_EQ(sequenceFileName(c.pattern, c.number), c.name) << c.pattern;
    // The marked pattern gives the same names through kaleocmd's numbering.
    for (const Case& c : cases)
        EXPECT_EQ(sequenceName(markedPattern(c.pattern), c.number), sequenceFileName(c.pattern, c.number)) << c.pattern;
}

TEST(BatchNames, ExtensionsAndFolders) {
    EXPECT_EQ(nameWithoutExtension("photo.JPG"), "photo");
    EXPECT_EQ(nameWithoutExtension("scan.001"), "scan.001");
    EXPECT_EQ(nameWithoutExtension(".hidden"), ".hidden");
    EXPECT_EQ(replaceExtension("C:\\a.b\\pic", "png"), "C:\\a.b\\pic.png");
    EXPECT_EQ(replaceExtension("C:\\a\\pic.Gif", "png"), "C:\\a\\pic.png");
    EXPECT_EQ(withSeparator("C:\\out"), "C:\\out\\");
    EXPECT_EQ(withSeparator("C:\\out\\"), "C:\\out\\");
    EXPECT_EQ(folderOfPath("C:\\a\\b.gif"), "C:\\a\\");
}

TEST(BatchPlan, RefusalsBeforeAnythingIsWritten) {
    const int png = lookupFormat("png", true);
    ASSERT_GE(png, 0);
    std::string longName(250, 'n');
    std::vector<std::string> sources = {
        "C:\\pics\\a.bmp", "C:\\pics\\A.GIF",   // one output name, whatever the case
        "C:\\pics\\b.gif", "C:\\pics\\b.png",   // b.gif would replace b.png, another file of the run
        "C:\\pics\\" + longName + ".bmp",       // the output would exceed 258 characters
        "C:\\pics\\scan.001", "C:\\pics\\scan.002",  // numbered extensions stay apart
    };
    std::vector<BatchItem> plan = planMultiple(sources, "", png);
    ASSERT_EQ(plan.size(), sources.size());
    EXPECT_EQ(plan[0].refusal, BATCH_GO);
    EXPECT_EQ(plan[0].stem, "C:\\pics\\a");
    EXPECT_EQ(plan[1].refusal, BATCH_SAME_OUTPUT);
    EXPECT_EQ(plan[1].earlier, 0);
    EXPECT_EQ(plan[2].refusal, BATCH_REPLACES_INPUT);
    EXPECT_EQ(plan[2].earlier, 3);
    EXPECT_EQ(plan[3].refusal, BATCH_GO);  // b.png onto itself: its own file
    EXPECT_EQ(plan[4].refusal, BATCH_NAME_TOO_LONG);
    EXPECT_EQ(plan[5].refusal, BATCH_GO);
    EXPECT_EQ(plan[6].refusal, BATCH_GO);
    EXPECT_NE(plan[5].stem, plan[6].stem);
    // A destination folder gathers the files: the same names meet there.
    plan = planMultiple({"C:\\x\\p.bmp", "C:\\y\\P.gif"}, "D:\\out", png);
    EXPECT_EQ(plan[0].stem, "D:\\out\\p");
    EXPECT_EQ(plan[1].refusal, BATCH_SAME_OUTPUT);
}

TEST(BatchPlan, OriginalComparedAsOneFile) {
    std::string a = testutil::tempPath("orig.BMP");
    ASSERT_TRUE(testutil::writeFile(a, {1, 2, 3}));
    std::string link = testutil::tempPath("orig-link.bmp");
    unlink(link.c_str());
    ASSERT_EQ(::link(a.c_str(), link.c_str()), 0);
    EXPECT_TRUE(sameOriginal("Z:\\t\\orig.BMP", "z:\\T\\.\\orig.bmp", "", ""));
    EXPECT_TRUE(sameOriginal("", "", a, link));  // one file under two names
    EXPECT_FALSE(sameOriginal("Z:\\t\\orig.BMP", "Z:\\t\\orig.png", a, testutil::tempPath("orig.png")));
}

// codeFitsFormat says what converting and asking the registry says.
TEST(BatchCodes, FitsAsTheRegistryDecides) {
    OwnedImage photo;
    ASSERT_TRUE(testpictures::makePicture(&photo, IMG_RGB, 24, 16));
    for (int f = 0; f < formatCount(); ++f) {
        const FormatRecord* r = formatRecord(f);
        if (!r || !r->writer) continue;
        for (int code = 1; code <= CONVERSION_COUNT; ++code) {
            OwnedImage converted;
            ASSERT_EQ(convertWithCode(&photo, &converted, code), ST_OK);
            const WriteVariant* v = nullptr;
            EXPECT_EQ(codeFitsFormat(f, code), findWriteVariant(f, &converted, &v) != 0)
                << r->shortName << " code " << code;
        }
        int automatic = automaticCode(f, &photo);
        const WriteVariant* v = nullptr;
        if (findWriteVariant(f, &photo, &v)) EXPECT_EQ(automatic, 0) << r->shortName;
        else EXPECT_TRUE(codeFitsFormat(f, automatic)) << r->shortName;
    }
    EXPECT_FALSE(codeFitsFormat(0, 0));
    EXPECT_FALSE(codeFitsFormat(-1, 5));
}

// ---- The script against kaleocmd's parser ----

bool parseScript(const std::string& line, CmdJob* job, std::string* why) {
    std::vector<std::string> words;
    if (!splitScriptLine(line, &words, why)) return false;
    std::vector<const char*> argv;
    for (const std::string& w : words) argv.push_back(w.c_str());
    if (argv.empty() || std::string(argv[0]) != "kaleocmd") {
        *why = "no kaleocmd";
        return false;
    }
    return parseCommandLine(static_cast<int>(argv.size()), argv.data(), job, why);
}

// The fields of a job entry that its kind gives to kaleocmd.
void expectSameOp(const OpInstance& a, const OpInstance& b) {
    ASSERT_EQ(a.index, b.index);
    const OpEntry* e = opEntry(a.index);
    SCOPED_TRACE(e->option);
    switch (e->kind) {
    case OPK_HUNDREDTHS:
    case OPK_THREE_REALS:
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(a.reals[k], b.reals[k], 0.005);
        break;
    case OPK_RESIZE:
        EXPECT_EQ(a.method, b.method);
        EXPECT_EQ(a.onlySmaller, b.onlySmaller);
        EXPECT_EQ(a.onlyLarger, b.onlyLarger);
        [[fallthrough]];
    case OPK_CANVAS:
        EXPECT_EQ(a.percent, b.percent);
        EXPECT_EQ(a.keepRatio, b.keepRatio);
        EXPECT_EQ(a.ints[0], b.ints[0]);
        EXPECT_EQ(a.ints[1], b.ints[1]);
        break;
    case OPK_NONE:
    case OPK_TRUECOLOUR: break;
    default:
        for (int k = 0; k < 4; ++k) EXPECT_EQ(a.ints[k], b.ints[k]) << k;
    }
}

std::vector<OpInstance> everyOperation() {
    std::vector<OpInstance> ops;
    for (int i = 0; i < OP_COUNT; ++i) {
        OpInstance op;
        EXPECT_TRUE(initOpInstance(&op, i));
        ops.push_back(op);
    }
    return ops;
}

TEST(BatchScript, EveryOperationWithItsDefaultsReadsBack) {
    ScriptJob job;
    job.outFormat = lookupFormat("bmp", true);
    job.ops = everyOperation();
    job.sources = {"/tmp/a.gif"};
    std::string line = exportScript(job);
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.back(), '\n');
    CmdJob parsed;
    std::string why;
    ASSERT_TRUE(parseScript(line, &parsed, &why)) << why << "\n" << line;
    ASSERT_EQ(parsed.ops.size(), job.ops.size());
    for (size_t i = 0; i < job.ops.size(); ++i) expectSameOp(job.ops[i], parsed.ops[i]);
}

TEST(BatchScript, EditedParametersReadBack) {
    struct Edit {
        const char* option;
        void (*change)(OpInstance*);
    } edits[] = {
        {"-colors", [](OpInstance* o) { o->ints[0] = 17; o->ints[1] = 0; }},
        {"-colors", [](OpInstance* o) { o->ints[0] = 12; o->ints[1] = 1; }},
        {"-grey", [](OpInstance* o) { o->ints[0] = 4; o->ints[1] = 1; }},
        {"-grey", [](OpInstance* o) { o->ints[0] = 9; o->ints[1] = 0; }},
        {"-binary", [](OpInstance* o) { o->ints[0] = 5; }},
        {"-binary", [](OpInstance* o) { o->ints[0] = 2; }},
        {"-binary", [](OpInstance* o) { o->ints[0] = 3; }},
        {"-resize", [](OpInstance* o) { o->percent = 1; o->ints[0] = 50; o->ints[1] = 75; o->keepRatio = 1; }},
        {"-resize", [](OpInstance* o) { o->ints[0] = 640; o->ints[1] = 480; o->method = RESAMPLE_AREA; }},
        {"-resize", [](OpInstance* o) { o->ints[0] = 64; o->ints[1] = 48; o->onlyLarger = 1; }},
        {"-resize", [](OpInstance* o) { o->ints[0] = 64; o->ints[1] = 48; o->onlySmaller = 1; o->keepRatio = 1; }},
        {"-canvas", [](OpInstance* o) { o->percent = 1; o->ints[0] = 120; o->ints[1] = 130; o->keepRatio = 1; }},
        {"-canvas", [](OpInstance* o) { o->ints[0] = 300; o->ints[1] = 200; }},
        {"-crop", [](OpInstance* o) { o->ints[0] = 3; o->ints[1] = 4; o->ints[2] = 50; o->ints[3] = 60; }},
        {"-rotate", [](OpInstance* o) { o->ints[0] = -90; }},
        {"-gamma", [](OpInstance* o) { o->reals[0] = 2.35; }},
        {"-balance", [](OpInstance* o) { o->ints[0] = -100; o->ints[1] = 5; o->ints[2] = 100; }},
        {"-posterize", [](OpInstance* o) { o->ints[0] = 8; }},
        {"-swap", [](OpInstance* o) { o->ints[0] = 3; }},
        {"-swap", [](OpInstance* o) { o->ints[0] = 4; }},
        {"-gauss", [](OpInstance* o) { o->ints[0] = 13; }},
        {"-noise gaussian", [](OpInstance* o) { o->reals[0] = 9.99; }},
        {"-waves", [](OpInstance* o) { o->reals[0] = 50.0; o->reals[1] = 360.0; o->reals[2] = 100.0; }},
    };
    for (const Edit& e : edits) {
        SCOPED_TRACE(e.option);
        OpInstance op;
        ASSERT_TRUE(initOpInstance(&op, findOp(e.option)));
        e.change(&op);
        ASSERT_TRUE(opInstanceValid(op));
        ScriptJob job;
        job.outFormat = lookupFormat("png", true);
        job.ops = {op, op};  // twice: a prefix item belongs to its own operation only
        job.ops[1].keepRatio = 0;
        job.ops[1].onlySmaller = job.ops[1].onlyLarger = 0;
        job.sources = {"/tmp/x.bmp"};
        CmdJob parsed;
        std::string why;
        std::string line = exportScript(job);
        ASSERT_TRUE(parseScript(line, &parsed, &why)) << why << "\n" << line;
        ASSERT_EQ(parsed.ops.size(), 2u);
        expectSameOp(job.ops[0], parsed.ops[0]);
        expectSameOp(job.ops[1], parsed.ops[1]);
    }
}

TEST(BatchScript, ResizeInPercentWithRatioAndQuickMethod) {
    OpInstance op;
    ASSERT_TRUE(initOpInstance(&op, findOp("-resize")));
    op.percent = op.keepRatio = 1;
    op.method = RESAMPLE_NEAREST;
    op.ints[0] = op.ints[1] = 50;
    EXPECT_EQ(scriptOperations({op}), "-ratio -rtype quick -resize 50% 50%");
}

TEST(BatchScript, WholeLineOfAMultipleConversion) {
    ScriptJob job;
    job.outFormat = lookupFormat("jpeg", true);
    job.pcdBase = 2;
    job.rawWidth = 640;
    job.rawHeight = 480;
    job.rawOffset = 16;
    job.channelType = 2;
    job.channelOrder = 1;
    job.deleteOriginal = true;
    job.quality = 85;
    job.progressive = 1;
    job.conversionCode = 24;
    job.dest = "/tmp/out put/";
    job.sources = {"/tmp/my pics/a.gif", "/tmp/b.bmp", "/tmp/q\"uote\\d.tga", "/tmp/it's.png"};
    std::string line = exportScript(job);
    EXPECT_EQ(line,
              "kaleocmd -npcd 2 -size 640x480+16 -ctype bgr -corder seq -out jpeg -q 85 -i -conv 24 -D "
              "-o \"/tmp/out put/\" \"/tmp/my pics/a.gif\" /tmp/b.bmp \"/tmp/q\\\"uote\\\\d.tga\" \"/tmp/it's.png\"\n");
    CmdJob parsed;
    std::string why;
    ASSERT_TRUE(parseScript(line, &parsed, &why)) << why;
    EXPECT_EQ(parsed.sources, job.sources);
    EXPECT_EQ(parsed.dest, job.dest);
    EXPECT_EQ(parsed.pcdBase, 2);
    EXPECT_EQ(parsed.rawWidth, 640);
    EXPECT_EQ(parsed.rawOffset, 16);
    EXPECT_EQ(parsed.channelType, 2);
    EXPECT_EQ(parsed.channelOrder, 1);
    EXPECT_TRUE(parsed.deleteOriginal);
    EXPECT_EQ(parsed.quality, 85);
    EXPECT_TRUE(parsed.interlace);
    EXPECT_EQ(parsed.conversionCode, 24);
    EXPECT_EQ(parsed.outFormat, job.outFormat);
    // Nothing to convert, nothing written.
    job.sources.clear();
    EXPECT_EQ(exportScript(job), "");
}

TEST(BatchScript, SequenceLine) {
    ScriptJob job;
    job.sequence = true;
    job.inFormat = lookupFormat("tga", false);
    job.outFormat = lookupFormat("bmp", true);
    job.seqStart = 5;
    job.seqEnd = 20;
    job.seqStep = 5;
    job.dest = "/tmp/out/img###.bmp";
    job.sources = {"/tmp/in dir/scan##.tga"};
    std::string line = exportScript(job);
    CmdJob parsed;
    std::string why;
    ASSERT_TRUE(parseScript(line, &parsed, &why)) << why << "\n" << line;
    EXPECT_TRUE(parsed.sequence);
    EXPECT_EQ(parsed.seqStart, 5);
    EXPECT_EQ(parsed.seqEnd, 20);
    EXPECT_EQ(parsed.seqStep, 5);
    EXPECT_EQ(parsed.inFormat, job.inFormat);
    EXPECT_EQ(parsed.dest, job.dest);
    EXPECT_EQ(parsed.sources, job.sources);
    EXPECT_NE(line.find("-in tga -n 5 20 5 -out bmp"), std::string::npos) << line;
    // Automatic identification writes no -in.
    job.inFormat = -1;
    EXPECT_EQ(exportScript(job).find("-in "), std::string::npos);
}

// ---- The viewer's run against kaleocmd's ----

// Writes a few files of every kind in a fresh folder; returns their paths.
std::vector<std::string> mixedSources(const std::string& folder) {
    struct Source {
        const char* name;
        const char* format;
        uint16_t kind;
        int width, height;
    } list[] = {
        {"photo.bmp", "bmp", IMG_RGB, 40, 30},  {"pal.gif", "gif", IMG_PALETTE, 33, 21},
        {"grey.pgm", "pnm", IMG_GREY, 28, 28},  {"bw.pbm", "pnm", IMG_BINARY, 35, 17},
        {"true.png", "png", IMG_RGB, 17, 40},   {"colours.tga", "tga", IMG_PALETTE, 20, 20},
    };
    std::vector<std::string> paths;
    for (const Source& s : list) {
        OwnedImage img;
        EXPECT_TRUE(testpictures::makePicture(&img, s.kind, s.width, s.height,
                                              [](int x, int y, int c) {
                                                  return static_cast<uint8_t>((x * 16 + y * 5 + c * 90) & 0xFF);
                                              }));
        if (s.kind == IMG_PALETTE) img.colours = 256;
        std::string path = folder + "/" + s.name;
        char name[FILE_NAME_LEN];
        snprintf(name, sizeof name, "%s", path.c_str());
        IoOptions o = defaultIoOptions();
        o.formatIndex = static_cast<int16_t>(lookupFormat(s.format, true));
        EXPECT_EQ(saveImage(name, &img, &o), ST_OK) << s.name;
        paths.push_back(path);
    }
    return paths;
}

// The dialog's choice: the code chosen earlier when the format takes its
// result, else the one offered first (kaleocmd's own), remembered.
struct Remembered {
    int format;
    int code;
};
int rememberedCode(void* datum, const Image* image) {
    Remembered* r = static_cast<Remembered*>(datum);
    if (!r->code || !codeFitsFormat(r->format, r->code)) r->code = automaticCode(r->format, image);
    return r->code;
}

std::string freshFolder(const std::string& name) {
    std::string f = testutil::tempPath(name);
    testutil::run("rm -rf '" + f + "'");
    mkdir(f.c_str(), 0755);
    return f;
}

TEST(BatchRun, ViewerRunAndExportedScriptWriteTheSameFiles) {
    std::string in = freshFolder("batch-in");
    std::vector<std::string> sources = mixedSources(in);
    std::vector<OpInstance> ops(3);
    ASSERT_TRUE(initOpInstance(&ops[0], findOp("-xflip")));
    ASSERT_TRUE(initOpInstance(&ops[1], findOp("-brightness")));
    ops[1].ints[0] = 25;
    ASSERT_TRUE(initOpInstance(&ops[2], findOp("-resize")));
    ops[2].percent = 1;
    ops[2].ints[0] = 150;
    ops[2].ints[1] = 80;
    ops[2].method = RESAMPLE_AREA;
    int formats = 0;
    for (int f = 0; f < formatCount(); ++f) {
        const FormatRecord* r = formatRecord(f);
        if (!r || !r->writer) continue;
        SCOPED_TRACE(r->shortName);
        // Both runs write into one folder (some formats record the output's
        // path): the viewer's files are moved aside before the script runs.
        std::string viewer = freshFolder(std::string("batch-") + r->shortName);
        std::string script = viewer;
        // The viewer's run: the code of the first refused picture is remembered.
        Remembered code{f, 0};
        std::vector<BatchItem> plan = planMultiple(sources, viewer + "/", f);
        std::vector<std::string> written;
        int noWriter = 0;
        for (const BatchItem& item : plan) {
            ASSERT_EQ(item.refusal, BATCH_GO);
            BatchFile file;
            file.source = item.source;
            file.stem = item.stem;
            file.formatIndex = f;
            file.load = defaultIoOptions();
            file.save = defaultIoOptions();
            file.ops = &ops;
            file.choose = rememberedCode;
            file.chooseDatum = &code;
            BatchResult res = convertBatchFile(file);
            if (res.step == STEP_DONE) written.push_back(res.output);
            noWriter += res.status == ST_NO_WRITER;
        }
        if (noWriter == static_cast<int>(plan.size())) continue;  // a writer still to come
        ++formats;
        std::string aside = freshFolder(std::string("batch-viewer-") + r->shortName);
        for (std::string& out : written) {
            std::string moved = aside + "/" + out.substr(viewer.size() + 1);
            ASSERT_EQ(rename(out.c_str(), moved.c_str()), 0) << out;
            out = moved;
        }
        // The script of the same job, run by kaleocmd.
        ScriptJob job;
        job.outFormat = f;
        job.ops = ops;
        job.sources = sources;
        job.dest = script + "/";
        job.conversionCode = code.code;
        scriptWriterSwitches(defaultIoOptions(), &job);
        CmdJob parsed;
        std::string why;
        ASSERT_TRUE(parseScript(exportScript(job), &parsed, &why)) << why;
        parsed.threads = 1;
        parsed.quiet = true;
        int failures = runJob(parsed);
        EXPECT_EQ(failures, static_cast<int>(sources.size() - written.size()));
        EXPECT_FALSE(written.empty());
        // These formats record the time of writing: there the pictures must agree.
        const std::string name = r->shortName;
        const bool dated = name == "rla" || name == "cineon" || name == "palm";
        for (const std::string& out : written) {
            std::string other = script + "/" + out.substr(aside.size() + 1);
            if (dated) {
                OwnedImage a, b;
                ASSERT_EQ(testutil::load(out, &a), ST_OK) << out;
                ASSERT_EQ(testutil::load(other, &b), ST_OK) << other;
                EXPECT_EQ(testpictures::differences(a, b), "") << out;
                continue;
            }
            std::vector<uint8_t> a, b;
            ASSERT_TRUE(testutil::readFile(out, &a)) << out;
            ASSERT_TRUE(testutil::readFile(other, &b)) << other;
            EXPECT_TRUE(a == b) << out << " and " << other << " differ";
        }
    }
    EXPECT_GT(formats, 20);
}

TEST(BatchRun, ExistingDestinationsAndTheOriginal) {
    std::string in = freshFolder("batch-keep");
    std::vector<std::string> sources = mixedSources(in);
    const int png = lookupFormat("png", true);
    // An existing destination that is not the source stays unless replacing is allowed.
    ASSERT_TRUE(testutil::writeFile(in + "/photo.png", {'o', 'l', 'd'}));
    BatchFile file;
    file.source = in + "/photo.bmp";
    file.stem = in + "/photo";
    file.formatIndex = png;
    file.load = file.save = defaultIoOptions();
    file.deleteOriginal = true;
    BatchResult res = convertBatchFile(file);
    EXPECT_EQ(res.step, STEP_EXISTS);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(testutil::readFile(in + "/photo.png", &bytes));
    EXPECT_EQ(bytes.size(), 3u);
    EXPECT_EQ(access(file.source.c_str(), F_OK), 0) << "the original must stay when nothing was written";
    file.replaceExisting = true;
    res = convertBatchFile(file);
    EXPECT_EQ(res.step, STEP_DONE);
    ASSERT_TRUE(testutil::readFile(in + "/photo.png", &bytes));
    EXPECT_GT(bytes.size(), 3u);
    EXPECT_NE(access(file.source.c_str(), F_OK), 0) << "the original goes once written";
    // Converting a file onto itself never deletes it, and leaves no temporary.
    file.source = in + "/true.png";
    file.stem = in + "/true";
    file.replaceExisting = false;
    res = convertBatchFile(file);
    EXPECT_EQ(res.step, STEP_DONE);
    EXPECT_EQ(access(file.source.c_str(), F_OK), 0);
    EXPECT_EQ(testutil::run("ls -a '" + in + "' | grep -q kaleos-"), 1);
}

int stopAtOnce(int32_t, int32_t, void*) { return 1; }

TEST(BatchRun, StoppedSaveLeavesNoFile) {
    std::string in = freshFolder("batch-stop");
    std::vector<std::string> sources = mixedSources(in);
    BatchFile file;
    file.source = sources[0];
    file.stem = in + "/stopped";
    file.formatIndex = lookupFormat("tiff", true);
    file.load = file.save = defaultIoOptions();
    file.save.progressCallback = stopAtOnce;
    BatchResult res = convertBatchFile(file);
    EXPECT_EQ(res.step, STEP_CANCELLED);
    EXPECT_EQ(res.status, ST_STOPPED);
    EXPECT_EQ(testutil::run("ls -a '" + in + "' | grep -q -e kaleos- -e stopped"), 1);
}

}  // namespace
