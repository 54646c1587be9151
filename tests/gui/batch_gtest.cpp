// The batch conversions under Wine: the multiple conversion opened on the
// browser's selection of fifty mixed files, run to every writable format
// with a chain of three operations, each run's exported script run by
// kaleocmd writing the same bytes; a cancelled run; "Effacer l'original"
// with an extension of another case; refusals reported; the sequence
// conversion; the operations dialog editing the shared job list.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "batch_gui.h"
#include "browse_gui.h"
#include "gui.h"
#include "kaleocore.h"
#include "resource.h"

namespace {

constexpr int OK = 1;
constexpr int CANCEL = 2;
constexpr int NO = 7;
const char MULTIPLE[] = "Conversion multiple";
const char SEQUENCE[] = "Conversion de s\xe9quence";

OpInstance op(const char* option) {
    OpInstance o;
    initOpInstance(&o, findOp(option));
    return o;
}

// xflip, brightness 25, resize to 150 % x 80 % (linear).
std::vector<OpInstance> threeOperations() {
    std::vector<OpInstance> ops = {op("-xflip"), op("-brightness"), op("-resize")};
    ops[1].ints[0] = 25;
    ops[2].percent = 1;
    ops[2].ints[0] = 150;
    ops[2].ints[1] = 80;
    ops[2].method = RESAMPLE_AREA;
    return ops;
}

std::string shortNameOf(int format) {
    FormatInfo fi;
    return getFormatInfo(format, &fi) == 0 ? fi.shortName : "?";
}

class Batch : public ::testing::Test {
protected:
    void SetUp() override {
        folder = gui::tempFolder();
        out = gui::tempFolder();
        settings = gui::tempFolder();
        ini = settings + "k.ini";
        batchgui::forgetConversionCode();
        batchgui::setJobs({});
    }
    void TearDown() override {
        batchgui::setJobs({});
        if (gui::frameAlive()) EXPECT_TRUE(gui::closeFrame());
    }
    bool start(bool browser) {
        if (!gui::writeText(ini, "[Browser]\r\nShowParentDir=0\r\n")) return false;
        std::string command = "-ini \"" + ini + "\"";
        if (browser) command += " \"" + folder.substr(0, folder.size() - 1) + "\"";
        if (!gui::start(command)) return false;
        gui::moveFrame(0, 0, 1000, 740);
        gui::pump(100);
        return true;
    }
    std::string folder, out, settings, ini;
};

// ---- Every writable format from the browser's selection ----

struct EveryFormat {
    std::string out;
    int listed = 0;
    std::vector<int> formats;
    std::vector<batchgui::Report> reports;
    std::vector<bool> scripts;
    std::vector<std::string> skipped;
};

void convertToEveryFormat(void* dialog, void* datum) {
    EveryFormat* run = static_cast<EveryFormat*>(datum);
    run->listed = batchgui::listCount(dialog, IDC_MUL_LIST);
    gui::screenshot("batch-multiple");
    // A writer that refuses pictures its record accepts stops a run with a
    // message (a failed save): such formats are left out here.
    for (int f : batchgui::outputFormats(dialog))
        if (batchgui::writesEveryKindItClaims(f, run->out)) run->formats.push_back(f);
        else run->skipped.push_back(shortNameOf(f));
    for (int f : run->formats) {
        std::string name = shortNameOf(f);
        std::string target = run->out + name + "\\";
        browsegui::makeFolder(target);
        browsegui::setItemText(dialog, IDC_BATCH_FOLDER, target);
        batchgui::selectOutputFormat(dialog, f);
        gui::setChecked(dialog, IDC_BATCH_DELETE, false);
        gui::answerNextMessageBox("Sauver sous...", OK);  // the conversion code, when one is asked
        gui::clickItem(dialog, OK);
        run->reports.push_back(batchgui::lastRun());
        // The script of the same job (the code chosen now included).
        run->scripts.push_back(batchgui::writeScript(dialog, run->out + name + ".txt"));
    }
    gui::clickItem(dialog, CANCEL);
}

TEST_F(Batch, BrowserSelectionToEveryWritableFormatMatchesTheScripts) {
    struct Source {
        const char* ext;
        const char* format;
        int kind;
    } kinds[] = {{"bmp", "bmp", 3}, {"gif", "gif", 2},  {"png", "png", 1}, {"pgm", "pnm", 1}, {"pbm", "pnm", 0},
                 {"tga", "tga", 3}, {"pcx", "pcx", 2},  {"tif", "tiff", 0}, {"PNG", "png", 3}, {"bmp", "bmp", 2}};
    for (int i = 0; i < 50; ++i) {
        const Source& s = kinds[i % 10];
        char name[32];
        snprintf(name, sizeof name, "p%02d.%s", i, s.ext);
        ASSERT_FALSE(batchgui::writePicture(folder, name, s.format, s.kind, 12 + i % 7 * 3, 10 + i % 5 * 4).empty())
            << name;
    }
    ASSERT_TRUE(start(true));
    ASSERT_TRUE(browsegui::waitForThumbnails(60000));
    std::vector<int> all;
    for (size_t i = 0; i < browsegui::state().names.size(); ++i) all.push_back(static_cast<int>(i));
    browsegui::select(all);
    batchgui::setJobs(threeOperations());
    EveryFormat run;
    run.out = out;
    ASSERT_TRUE(gui::withDialog(CMD_BROWSER_CONVERT, MULTIPLE, convertToEveryFormat, &run));
    EXPECT_EQ(run.listed, 50);
    for (const std::string& name : run.skipped) printf("writer refusing pictures its record accepts: %s\n", name.c_str());
    ASSERT_GT(run.formats.size(), 20u);
    for (size_t k = 0; k < run.formats.size(); ++k) {
        std::string name = shortNameOf(run.formats[k]);
        SCOPED_TRACE(name);
        const batchgui::Report& r = run.reports[k];
        EXPECT_EQ(r.written, 50) << (r.messages.empty() ? "" : r.messages[0]);
        EXPECT_FALSE(r.stopped);
        ASSERT_TRUE(run.scripts[k]);
        std::string script = browsegui::readFile(out + name + ".txt");
        EXPECT_EQ(script.compare(0, 9, "kaleocmd "), 0) << script;
        EXPECT_NE(script.find(" -xflip -brightness 25 -rtype linear -resize 150% 80% "), std::string::npos) << script;
        // Some formats record the output's path: kaleocmd writes into the
        // same folder once the viewer's files are moved aside.
        EXPECT_EQ(batchgui::temporariesIn(out + name + "\\"), 0);
        ASSERT_TRUE(batchgui::moveFolder(out + name, out + name + "-viewer"));
        EXPECT_EQ(batchgui::runKaleocmd({"-script", batchgui::unixPathOf(out + name + ".txt")}), 0);
        std::vector<std::string> viewer = batchgui::folderFiles(out + name + "-viewer\\");
        std::vector<std::string> kaleocmd = batchgui::folderFiles(out + name + "\\");
        EXPECT_EQ(viewer.size(), 50u);
        EXPECT_EQ(viewer, kaleocmd);
        // These formats record the time of writing: the pictures must agree.
        const bool dated = name == "rla" || name == "cineon" || name == "palm";
        for (const std::string& file : viewer)
            if (dated)
                EXPECT_TRUE(batchgui::samePicture(out + name + "-viewer\\" + file, out + name + "\\" + file)) << file;
            else
                EXPECT_TRUE(browsegui::readFile(out + name + "-viewer\\" + file) ==
                            browsegui::readFile(out + name + "\\" + file))
                    << file << " differs";
    }
}

// ---- A cancelled run ----

struct CancelRun {
    std::vector<std::string> files;
    std::string target;
    int tiff = -1;
    batchgui::Report report;
};

void cancelDuringTheRun(void* dialog, void* datum) {
    CancelRun* run = static_cast<CancelRun*>(datum);
    batchgui::addFiles(dialog, run->files);
    browsegui::setItemText(dialog, IDC_BATCH_FOLDER, run->target);
    batchgui::selectOutputFormat(dialog, run->tiff);
    gui::setChecked(dialog, IDC_BATCH_DELETE, false);
    gui::answerNextMessageBox("Converti...", CANCEL);  // "Annuler" of the progress window
    gui::clickItem(dialog, OK);
    run->report = batchgui::lastRun();
    gui::clickItem(dialog, CANCEL);
}

TEST_F(Batch, CancelledRunLeavesNoPartialFile) {
    // The answer comes a tenth of a second after the run starts: the files
    // must take several times that to convert, however fast the machine.
    CancelRun run;
    for (int i = 1; i <= 8; ++i)
        run.files.push_back(batchgui::writePicture(folder, "big" + std::to_string(i) + ".bmp", "bmp", 3, 2000, 2000));
    for (const std::string& f : run.files) ASSERT_FALSE(f.empty());
    run.target = out;
    run.tiff = findFormat("tiff");
    ASSERT_TRUE(start(false));
    batchgui::setJobs({op("-negate")});
    ASSERT_TRUE(gui::withDialog(CMD_CONVERT_MULTIPLE, MULTIPLE, cancelDuringTheRun, &run));
    EXPECT_TRUE(run.report.stopped);
    EXPECT_LT(run.report.written, static_cast<int>(run.files.size()));
    EXPECT_EQ(batchgui::temporariesIn(out), 0);
    // Whatever was written is whole.
    std::vector<std::string> written = batchgui::folderFiles(out);
    EXPECT_EQ(static_cast<int>(written.size()), run.report.written);
    for (const std::string& name : written) {
        OwnedImage img;
        IoOptions o = defaultIoOptions();
        FileInfo fi;
        EXPECT_EQ(loadImage(batchgui::unixPathOf(out + name).c_str(), &img, &o, &fi), ST_OK) << name;
        EXPECT_EQ(img.width, 2000);
    }
    for (const std::string& f : run.files) EXPECT_TRUE(gui::fileExists(f));
}

// ---- "Effacer l'original", refusals, an existing destination ----

struct DeleteRun {
    std::vector<std::string> files;
    int bmp = -1;
    batchgui::Report report;
};

void convertDeletingOriginals(void* dialog, void* datum) {
    DeleteRun* run = static_cast<DeleteRun*>(datum);
    batchgui::addFiles(dialog, run->files);
    browsegui::setItemText(dialog, IDC_BATCH_FOLDER, "");
    batchgui::selectOutputFormat(dialog, run->bmp);
    gui::setChecked(dialog, IDC_BATCH_DELETE, true);
    gui::setChecked(dialog, IDC_BATCH_HIDE_ERRORS, true);
    gui::answerNextMessageBox("Save As", NO);  // keep the existing destination
    gui::clickItem(dialog, OK);
    run->report = batchgui::lastRun();
    gui::screenshot("batch-multiple-after-run");
    gui::clickItem(dialog, CANCEL);
}

TEST_F(Batch, DeleteOriginalNeverDeletesTheFileJustWritten) {
    DeleteRun run;
    std::string upper = batchgui::writePicture(folder, "PIC.BMP", "bmp", 3, 20, 10);
    std::string gif = batchgui::writePicture(folder, "other.gif", "gif", 2, 20, 10);
    std::string twinA = batchgui::writePicture(folder, "twin.png", "png", 1, 20, 10);
    std::string twinB = batchgui::writePicture(folder, "TWIN.pcx", "pcx", 2, 20, 10);
    std::string kept = batchgui::writePicture(folder, "kept.tga", "tga", 3, 20, 10);
    std::string existing = batchgui::writePicture(folder, "kept.bmp", "bmp", 0, 5, 5);
    run.files = {upper, gif, twinA, twinB, kept};
    run.bmp = findFormat("bmp");
    std::string existingBytes = browsegui::readFile(existing);
    ASSERT_TRUE(start(false));
    ASSERT_TRUE(gui::withDialog(CMD_CONVERT_MULTIPLE, MULTIPLE, convertDeletingOriginals, &run));
    // PIC.BMP converted onto PIC.bmp: one name for Windows, never deleted.
    EXPECT_TRUE(gui::fileExists(folder + "PIC.bmp"));
    // other.gif went to other.bmp, then was deleted.
    EXPECT_TRUE(gui::fileExists(folder + "other.bmp"));
    EXPECT_FALSE(gui::fileExists(gif));
    // twin.png and TWIN.pcx map to one name: the second is refused and stays.
    EXPECT_TRUE(gui::fileExists(folder + "twin.bmp"));
    EXPECT_FALSE(gui::fileExists(twinA));
    EXPECT_TRUE(gui::fileExists(twinB));
    // kept.bmp existed: not replaced (answered No), kept.tga not deleted.
    EXPECT_EQ(browsegui::readFile(existing), existingBytes);
    EXPECT_TRUE(gui::fileExists(kept));
    EXPECT_EQ(run.report.written, 3);
    EXPECT_EQ(run.report.refused, 2);
    bool reported = false;
    for (const std::string& m : run.report.messages) reported = reported || m.find("TWIN.pcx") != std::string::npos;
    EXPECT_TRUE(reported);
    EXPECT_EQ(gui::settingInt("Convert", "HideError"), 1);
}

// ---- The sequence conversion ----

struct SequenceRun {
    std::string source, target;
    int png = -1;
    batchgui::Report report;
    bool script = false;
};

void convertSequence(void* dialog, void* datum) {
    SequenceRun* run = static_cast<SequenceRun*>(datum);
    gui::screenshot("batch-sequence");
    browsegui::setItemText(dialog, IDC_SEQ_IN_FOLDER, run->source);
    browsegui::setItemText(dialog, IDC_SEQ_IN_PATTERN, "");
    browsegui::setItemText(dialog, IDC_SEQ_OUT_PATTERN, "out##.png");
    gui::answerNextMessageBox("Error", OK);  // "Le fichier d'entrée manque !!"
    gui::clickItem(dialog, OK);
    browsegui::setItemText(dialog, IDC_SEQ_IN_PATTERN, "img###.bmp");
    batchgui::selectSourceFormat(dialog, -1);
    browsegui::setItemText(dialog, IDC_SEQ_START, "1");
    browsegui::setItemText(dialog, IDC_SEQ_END, "5");
    browsegui::setItemText(dialog, IDC_SEQ_STEP, "2");
    browsegui::setItemText(dialog, IDC_BATCH_FOLDER, run->target);
    batchgui::selectOutputFormat(dialog, run->png);
    gui::setChecked(dialog, IDC_BATCH_DELETE, false);  // the dialogs remember it from an earlier run
    gui::clickItem(dialog, OK);
    run->report = batchgui::lastRun();
    run->script = batchgui::writeScript(dialog, run->target + "seq.txt");
    gui::clickItem(dialog, CANCEL);
}

TEST_F(Batch, SequenceConvertsEveryStepAndItsScriptAgrees) {
    for (int n = 1; n <= 5; ++n) {
        char name[32];
        snprintf(name, sizeof name, "img%03d.bmp", n);
        ASSERT_FALSE(batchgui::writePicture(folder, name, "bmp", 3, 16 + n, 12).empty());
    }
    SequenceRun run;
    run.source = folder;
    run.target = out;
    run.png = findFormat("png");
    ASSERT_TRUE(start(false));
    batchgui::setJobs({op("-yflip")});
    ASSERT_TRUE(gui::withDialog(CMD_CONVERT_SEQUENCE, SEQUENCE, convertSequence, &run));
    EXPECT_EQ(run.report.written, 3);
    EXPECT_EQ(batchgui::folderFiles(out), (std::vector<std::string>{"out01.png", "out03.png", "out05.png", "seq.txt"}));
    ASSERT_TRUE(run.script);
    std::string script = browsegui::readFile(out + "seq.txt");
    EXPECT_NE(script.find("-n 1 5 2 -out png"), std::string::npos) << script;
    std::vector<std::string> viewer;
    std::string aside = gui::tempFolder();
    for (const char* name : {"out01.png", "out03.png", "out05.png"}) {
        viewer.push_back(browsegui::readFile(out + name));
        ASSERT_TRUE(batchgui::moveFolder(out + name, aside + name));
    }
    EXPECT_EQ(batchgui::runKaleocmd({"-script", batchgui::unixPathOf(out + "seq.txt")}), 0);
    EXPECT_EQ(batchgui::folderFiles(out), (std::vector<std::string>{"out01.png", "out03.png", "out05.png", "seq.txt"}));
    EXPECT_TRUE(browsegui::readFile(out + "out01.png") == viewer[0]);
    EXPECT_TRUE(browsegui::readFile(out + "out03.png") == viewer[1]);
    EXPECT_TRUE(browsegui::readFile(out + "out05.png") == viewer[2]);
}

// ---- The operations dialog ----

struct OpsRun {
    int jobs = 0;
    bool resizeShown = false, binaryHidden = false, percentShown = false;
    bool greyCountShown = false, grey216Enabled = true, grey4Enabled = false;
    int gammaPosition = 0;
    std::string gammaText;
};

void editOperations(void* dialog, void* datum) {
    OpsRun* run = static_cast<OpsRun*>(datum);
    batchgui::selectTableEntries(dialog, {findOp("-grey"), findOp("-resize"), findOp("-gamma")});
    gui::clickItem(dialog, IDC_OPC_ADD);
    run->jobs = batchgui::listCount(dialog, IDC_OPC_JOBS);
    // The last one added is selected: gamma, one scroll bar in hundredths.
    run->gammaPosition = batchgui::scrollPosition(dialog, IDC_OPC_ROW_FIRST + 1);
    batchgui::scroll(dialog, IDC_OPC_ROW_FIRST + 1, 3);  // SB_PAGERIGHT: a tenth of the range
    batchgui::scroll(dialog, IDC_OPC_ROW_FIRST + 1, 1);  // SB_LINERIGHT
    run->gammaText = gui::itemText(dialog, IDC_OPC_ROW_FIRST + 2);
    gui::screenshot("batch-operations-gamma");
    batchgui::selectJob(dialog, 1);
    run->resizeShown = gui::itemVisible(dialog, IDC_OPC_WIDTH);
    run->binaryHidden = !gui::itemVisible(dialog, IDC_OPC_BINARY_FIRST);
    gui::clickItem(dialog, IDC_OPC_PERCENT);
    run->percentShown = gui::itemVisible(dialog, IDC_OPC_WIDTH_PERCENT) && !gui::itemVisible(dialog, IDC_OPC_WIDTH);
    browsegui::setItemText(dialog, IDC_OPC_WIDTH_PERCENT, "50");
    browsegui::setItemText(dialog, IDC_OPC_HEIGHT_PERCENT, "40");
    gui::setChecked(dialog, IDC_OPC_RATIO, true);
    gui::clickItem(dialog, IDC_OPC_RATIO);
    gui::setChecked(dialog, IDC_OPC_ONLY_LARGER, true);
    gui::clickItem(dialog, IDC_OPC_ONLY_LARGER);
    batchgui::selectMethod(dialog, 1);
    gui::screenshot("batch-operations-resize");
    batchgui::selectJob(dialog, 0);
    run->greyCountShown = gui::itemVisible(dialog, IDC_OPC_COUNT_FIRST + 2);
    run->grey216Enabled = batchgui::itemEnabled(dialog, IDC_OPC_COUNT_FIRST + 6);
    run->grey4Enabled = batchgui::itemEnabled(dialog, IDC_OPC_COUNT_FIRST);
    gui::clickItem(dialog, IDC_OPC_COUNT_FIRST + 2);  // 16 levels
    gui::setChecked(dialog, IDC_OPC_DITHER, false);
    gui::clickItem(dialog, IDC_OPC_DITHER);
    gui::screenshot("batch-operations-grey");
    gui::clickItem(dialog, OK);
}

TEST_F(Batch, OperationsDialogEditsTheSharedJobList) {
    ASSERT_TRUE(start(false));
    OpsRun run;
    ASSERT_TRUE(batchgui::withOperationsDialog(editOperations, &run));
    EXPECT_EQ(run.jobs, 3);
    EXPECT_EQ(run.gammaPosition, 100);
    EXPECT_EQ(run.gammaText, "1.51");  // 1.00 + 0.50 (a tenth of 1..500) + 0.01
    EXPECT_TRUE(run.resizeShown);
    EXPECT_TRUE(run.binaryHidden);
    EXPECT_TRUE(run.percentShown);
    EXPECT_TRUE(run.greyCountShown);
    EXPECT_FALSE(run.grey216Enabled);
    EXPECT_TRUE(run.grey4Enabled);
    std::vector<OpInstance> jobs = batchgui::jobs();
    ASSERT_EQ(jobs.size(), 3u);
    EXPECT_EQ(jobs[0].index, findOp("-grey"));
    EXPECT_EQ(jobs[0].ints[0], 4);  // 16 levels
    EXPECT_EQ(jobs[0].ints[1], 0);
    EXPECT_EQ(jobs[1].index, findOp("-resize"));
    EXPECT_EQ(jobs[1].percent, 1);
    EXPECT_EQ(jobs[1].ints[0], 50);
    EXPECT_EQ(jobs[1].ints[1], 40);
    EXPECT_EQ(jobs[1].keepRatio, 1);
    EXPECT_EQ(jobs[1].onlyLarger, 1);
    EXPECT_EQ(jobs[1].method, RESAMPLE_AREA);
    EXPECT_NEAR(jobs[2].reals[0], 1.51, 1e-9);
    // The list stays for the next opening.
    OpsRun again;
    ASSERT_TRUE(batchgui::withOperationsDialog(
        [](void* dialog, void* datum) {
            static_cast<OpsRun*>(datum)->jobs = batchgui::listCount(dialog, IDC_OPC_JOBS);
            gui::clickItem(dialog, OK);
        },
        &again));
    EXPECT_EQ(again.jobs, 3);
}

}  // namespace
