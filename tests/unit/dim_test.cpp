// The image directory "boot.dim", its operations and installing received code.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/boot_spine_images.h"
#include "support/boot_texts.h"
#include "support/loader_on_board.h"
#include "support/test_board.h"

namespace {

using namespace swboot;
using namespace testing_support::boot;

// image1 active now, image2 scheduled to become active at the next start.
const std::string SWITCH_SCHEDULED =
    "---IMAGE---\nactive\nbackup\nimage1\n0\ndefault image\n---IMAGE---\nbackup\nactive\nimage2\n0\n\n";

class DimTest : public testing_support::OnBoardTest {
protected:
    ImageDirectory& dim() { return loader->dim; }
    // Calls a directory routine; its result.
    template <typename F>
    int call(F&& routine) {
        int result = 12345;
        EXPECT_EQ(loader.run([&] { result = routine(); }), "");
        return result;
    }
    int initialize() { return call([&] { return dim().dimInitialize(); }); }
    // Writes "boot.dim", or removes it when there is no text.
    void plant(const std::optional<std::string>& text) {
        if (text) {
            board.writeFile("boot.dim", *text);
        } else {
            std::filesystem::remove(board.filePath("boot.dim"));
        }
    }
    int initializeFrom(const std::optional<std::string>& text) {
        plant(text);
        return initialize();
    }
    std::string file() { return board.fileExists("boot.dim") ? board.readText("boot.dim") : "(no file)"; }
    // The active or backup image's name, or "(result)" when there is none.
    std::string named(int (ImageDirectory::*get)(char*)) {
        char name[DIM_FILE_NAME_SIZE] = "untouched";
        int result = (dim().*get)(name);
        return result == DIM_OK ? std::string(name) : "(" + std::to_string(result) + ")";
    }
    std::string active() { return named(&ImageDirectory::dimActiveImageGet); }
    std::string backup() { return named(&ImageDirectory::dimBackupImageGet); }
    // "(status, nextStatus)" of the slot that lists the name.
    std::string roles(const char* name) {
        for (int i = 0; i < DIM_SLOTS; ++i) {
            const DirectoryEntryFields& e = dim().slot(i);
            if (std::string(e.fileName) == name) {
                return std::string("(") + e.status + ", " + e.nextStatus + ")";
            }
        }
        return "free";
    }
};

// ------------------------------------------------------------ dimInitialize

TEST_F(DimTest, FilesAreReadAsFarAsTheyParseAndRewrittenFromWhatWasRead) {
    const std::string head = "---IMAGE---\nactive\nactive\nimage1\n0\n";
    const std::string x33(33, 'x');
    // Lines before the first entry are ignored: these bring a text to the
    // 1024 bytes that are read.
    const std::string stray(804, '\n');
    const struct {
        const char* what;
        std::optional<std::string> text;
        int result;
        int entries;
        std::string rewritten;
        bool readFails = false;
    } cases[] = {
        {"missing", std::nullopt, 3, 1, DEFAULT_DIM},
        {"unreadable", TWO_IMAGES, 1, 0, TWO_IMAGES, true},  // left empty, the file alone
        {"empty", "", 3, 0, ""},
        {"well formed", TWO_IMAGES, 0, 2, TWO_IMAGES},
        {"switch scheduled", SWITCH_SCHEDULED, 0, 2, SWAPPED_IMAGES},
        {"third section", TWO_IMAGES + "---IMAGE---\nactive\nactive\nimage1\n7\nthird\n", 0, 2, TWO_IMAGES},
        {"last line without newline", head + "default image", 0, 1, head + "\n"},
        // A line needs its newline within 256 characters, or the parse ends.
        {"300-character line", head + std::string(300, 'd') + "\n" + BACKUP_ENTRY, 0, 1, head + "\n"},
        {"256-character line", head + std::string(256, 'd') + "\n" + BACKUP_ENTRY, 0, 1, head + "\n"},
        {"255-character line", head + std::string(255, 'd') + "\n" + BACKUP_ENTRY, 0, 2,
         head + std::string(255, 'd') + "\n" + BACKUP_ENTRY},
        // The statuses keep 14 characters, the name 39, the counter 4; lines
        // outside the six of an entry are ignored.
        {"long fields and stray lines",
         "stray line\n---IMAGE---\nactive-and-much-longer\nactive-and-much-longer\nimage1" + std::string(60, 'x') +
             "\n123456\ndefault image\na sixth line\na seventh line\n",
         0, 1, "---IMAGE---\nactive-and-muc\nactive-and-muc\nimage1" + x33 + "\n1234\ndefault image\n"},
        // A description whose newline would be byte 1025 has none.
        {"1024 bytes", stray + head + std::string(184, 'd') + "\n", 0, 1, head + std::string(184, 'd') + "\n"},
        {"1025 bytes", stray + head + std::string(185, 'd') + "\n", 0, 1, head + "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        plant(c.text);
        if (c.readFails) {
            board.volume().injectFailure(sim::HostVolume::Operation::Read);
        }
        EXPECT_EQ(initialize(), c.result);
        EXPECT_EQ(dim().entryCount(), c.entries);
        EXPECT_EQ(file(), c.rewritten);
    }
}

// The new text is written under its own name and renamed over "boot.dim":
// whichever step fails, the old directory stays whole.
TEST_F(DimTest, ARewriteThatFailsIsMinusOneAndKeepsTheOldFile) {
    for (auto op : {sim::HostVolume::Operation::Create, sim::HostVolume::Operation::Write,
                    sim::HostVolume::Operation::Rename}) {
        initializeFrom(TWO_IMAGES);
        board.volume().injectFailure(op);
        EXPECT_EQ(call([&] { return dim().dimImageActivate("image2"); }), 0);
        EXPECT_EQ(file(), TWO_IMAGES);
        EXPECT_FALSE(board.fileExists("boot.dim.new"));
        board.volume().injectFailure(op);
        EXPECT_EQ(call([&] { return dim().dimFileWrite(); }), -1);
        EXPECT_EQ(file(), TWO_IMAGES);
    }
    initializeFrom(TWO_IMAGES);
    EXPECT_EQ(call([&] { return dim().dimFileWrite(); }), static_cast<int>(TWO_IMAGES.size()));
    EXPECT_EQ(file(), TWO_IMAGES);
    EXPECT_FALSE(board.fileExists("boot.dim.new"));
}

// -------------------------------------------------------------- operations

TEST_F(DimTest, ImageAdd) {
    initializeFrom("");
    // Only the two image names, exactly.
    for (const char* name : {"image3", "Image1", "image1 ", ""}) {
        EXPECT_EQ(call([&] { return dim().dimImageAdd(name); }), -3) << name;
    }
    EXPECT_EQ(file(), "");
    // The first entry ever added is active in both states.
    EXPECT_EQ(call([&] { return dim().dimImageAdd("image2"); }), 0);
    EXPECT_EQ(file(), "---IMAGE---\nactive\nactive\nimage2\n0\ndefault image\n");
    // The second is the backup, without description.
    EXPECT_EQ(call([&] { return dim().dimImageAdd("image1"); }), 0);
    EXPECT_EQ(file(), "---IMAGE---\nactive\nactive\nimage2\n0\ndefault image\n"
                      "---IMAGE---\nbackup\nbackup\nimage1\n0\n\n");
    // Adding a listed image changes and writes nothing.
    plant(std::nullopt);
    EXPECT_EQ(call([&] { return dim().dimImageAdd("image1"); }), 0);
    EXPECT_FALSE(board.fileExists("boot.dim"));
    EXPECT_EQ(dim().entryCount(), 2);
    // Without a free slot it is -1.
    initializeFrom(DEFAULT_DIM + "---IMAGE---\nbackup\nbackup\nimage9\n0\n\n");
    EXPECT_EQ(call([&] { return dim().dimImageAdd("image2"); }), -1);
    EXPECT_EQ(roles("image2"), "free");
}

TEST_F(DimTest, ImageRemove) {
    initializeFrom("");
    EXPECT_EQ(call([&] { return dim().dimImageRemove("image1"); }), 3);
    initializeFrom(DEFAULT_DIM);
    EXPECT_EQ(call([&] { return dim().dimImageRemove("image2"); }), 3);
    EXPECT_EQ(call([&] { return dim().dimImageRemove("image1"); }), 8);
    initializeFrom(TWO_IMAGES);
    EXPECT_EQ(call([&] { return dim().dimImageActivate("image2"); }), 0);
    EXPECT_EQ(call([&] { return dim().dimImageRemove("image2"); }), 7);
    EXPECT_EQ(call([&] { return dim().dimImageRemove("image1"); }), 8);
    EXPECT_EQ(file(), SWITCH_SCHEDULED);

    initializeFrom(TWO_IMAGES);
    EXPECT_EQ(call([&] { return dim().dimImageRemove("image2"); }), 0);
    EXPECT_EQ(dim().entryCount(), 1);
    EXPECT_EQ(roles("image2"), "free");
    EXPECT_EQ(file(), DEFAULT_DIM);
    // The freed slot takes the next image.
    EXPECT_EQ(call([&] { return dim().dimImageAdd("image2"); }), 0);
    EXPECT_EQ(file(), TWO_IMAGES);
}

TEST_F(DimTest, ImageActivate) {
    initializeFrom("");
    EXPECT_EQ(call([&] { return dim().dimImageActivate("image1"); }), 3);
    initializeFrom(DEFAULT_DIM);
    EXPECT_EQ(call([&] { return dim().dimImageActivate("image2"); }), 3);
    EXPECT_EQ(call([&] { return dim().dimImageActivate("image3"); }), 3);
    EXPECT_EQ(call([&] { return dim().dimImageActivate("image1"); }), 7);

    initializeFrom("---IMAGE---\nactive\nactive\nimage1\n12\ndefault image\n"
                   "---IMAGE---\nbackup\nbackup\nimage2\n34\n\n");
    EXPECT_EQ(call([&] { return dim().dimImageActivate("image2"); }), 0);
    EXPECT_EQ(file(), SWITCH_SCHEDULED);  // both counters back to "0"
    // The switch shows only after the next initialisation.
    EXPECT_EQ(active(), "image1");
    EXPECT_EQ(call([&] { return dim().dimImageActivate("image2"); }), 7);
    EXPECT_EQ(initialize(), 0);
    EXPECT_EQ(active(), "image2");
    // And back again.
    EXPECT_EQ(call([&] { return dim().dimImageActivate("image1"); }), 0);
    EXPECT_EQ(initialize(), 0);
    EXPECT_EQ(active(), "image1");
    EXPECT_EQ(file(), TWO_IMAGES);
}

TEST_F(DimTest, Queries) {
    const struct {
        std::string directory;
        std::string active, backup;
        int backupState;
        int image1State, image2State;
    } cases[] = {
        {"", "(-1)", "(-1)", 1, 3, 3},
        {DEFAULT_DIM, "image1", "(-1)", 3, 2, 3},
        {BACKUP_ENTRY, "(-1)", "image2", 4, 3, 2},
        {TWO_IMAGES, "image1", "image2", 4, 2, 2},
        {SWITCH_SCHEDULED, "image2", "image1", 4, 2, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.directory);
        initializeFrom(c.directory);
        EXPECT_EQ(active(), c.active);
        EXPECT_EQ(backup(), c.backup);
        EXPECT_EQ(dim().dimBackupStateGet(), c.backupState);
        int state = 0;
        EXPECT_EQ(dim().dimImageFind("image1", state), 0);
        EXPECT_EQ(state, c.image1State);
        EXPECT_EQ(dim().dimImageFind("image2", state), 0);
        EXPECT_EQ(state, c.image2State);
        EXPECT_EQ(dim().dimImageFind("image3", state), 0);
        EXPECT_EQ(state, 3);
    }
    initializeFrom(TWO_IMAGES);
    call([&] { return dim().dimImageActivate("image2"); });
    EXPECT_EQ(dim().dimBackupStateGet(), 5);
}

TEST_F(DimTest, RenameAndDescriptions) {
    initializeFrom("");
    char text[DIM_DESCRIPTION_SIZE] = "untouched";
    EXPECT_EQ(call([&] { return dim().dimImageRename("image1", "image2"); }), 3);
    EXPECT_EQ(call([&] { return dim().dimDescriptionSet("image1", "x"); }), 3);
    EXPECT_EQ(dim().dimDescriptionGet("image1", text), 3);

    initializeFrom(TWO_IMAGES);
    EXPECT_EQ(call([&] { return dim().dimImageRename("image3", "image4"); }), 3);
    const std::string longName(60, 'n');
    EXPECT_EQ(call([&] { return dim().dimImageRename("image2", longName.c_str()); }), 0);
    EXPECT_EQ(file(), DEFAULT_DIM + "---IMAGE---\nbackup\nbackup\n" + std::string(39, 'n') + "\n0\n\n");

    const std::string longText(300, 't');
    EXPECT_EQ(call([&] { return dim().dimDescriptionSet("image1", longText.c_str()); }), 0);
    EXPECT_EQ(dim().dimDescriptionGet("image1", text), 0);
    EXPECT_EQ(std::string(text), std::string(255, 't'));
    // A 255-character description survives the file.
    EXPECT_EQ(initialize(), 0);
    EXPECT_EQ(dim().dimDescriptionGet("image1", text), 0);
    EXPECT_EQ(std::string(text), std::string(255, 't'));
}

TEST_F(DimTest, ActiveCounter) {
    int value = -7;
    initializeFrom("");
    EXPECT_EQ(dim().dimActiveCounterGet(value), -1);
    EXPECT_EQ(call([&] { return dim().dimActiveCounterSet(3); }), -1);
    initializeFrom(BACKUP_ENTRY);
    EXPECT_EQ(dim().dimActiveCounterGet(value), -1);

    initializeFrom(TWO_IMAGES);
    EXPECT_EQ(call([&] { return dim().dimActiveCounterSet(42); }), 0);
    EXPECT_EQ(dim().dimActiveCounterGet(value), 0);
    EXPECT_EQ(value, 42);
    EXPECT_EQ(file(), "---IMAGE---\nactive\nactive\nimage1\n42\ndefault image\n" + BACKUP_ENTRY);
    // A counter too wide for its field still reads back as a number that fits.
    EXPECT_EQ(call([&] { return dim().dimActiveCounterSet(123456); }), 0);
    EXPECT_EQ(initialize(), 0);
    EXPECT_EQ(dim().dimActiveCounterGet(value), 0);
    EXPECT_LE(value, 9999);
    EXPECT_GE(value, 0);
}

// ------------------------------------------------------------- dimFileShow

// Every line as far as line reading goes, or what failed; nothing is left open.
TEST_F(DimTest, FileShow) {
    std::string listed = "\nsize is " + std::to_string(TWO_IMAGES.size()) + " \n";
    const char* lines[] = {"---IMAGE---", "active", "active", "image1", "0", "default image",
                           "---IMAGE---", "backup", "backup", "image2", "0", ""};
    int n = 0;
    for (const char* line : lines) {
        listed += "boot.dim " + std::to_string(++n) + " :\t\t " + line + " \n";
    }
    const struct {
        std::optional<std::string> text;
        bool readFails;
        int result;
        std::string shown;
    } cases[] = {
        {TWO_IMAGES, false, 0, listed},
        {"one\n" + std::string(300, 'x') + "\nthree\n", false, 0, "\nsize is 311 \nboot.dim 1 :\t\t one \n"},
        {"one\ntwo", false, 0, "\nsize is 7 \nboot.dim 1 :\t\t one \n"},
        {std::nullopt, false, -1, " boot.dim doesn't exist on the disk \n"},
        {"", false, -3, "\nsize is 0 \n boot.dim empty\n"},
        {TWO_IMAGES, true, -2, " boot.dim read error\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        plant(c.text);
        if (c.readFails) {
            board.volume().injectFailure(sim::HostVolume::Operation::Read);
        }
        EXPECT_EQ(call([&] { return dim().dimFileShow(); }), c.result);
        EXPECT_EQ(loader.takeOutput(), c.shown);
        EXPECT_EQ(board.volume().openCount(), 0);
    }
}

// ------------------------------------------------------------ imageInstall

class ImageInstallTest : public DimTest {
protected:
    int install(const char* received, const char* name) {
        return call([&] { return dim().imageInstall(received, name); });
    }
    std::vector<uint8_t> oldCode = goodImage({.codeSeed = 1});
    std::vector<uint8_t> newCode = goodImage({.codeSeed = 2});
};

// The move into place fails when nothing was received; the move aside of
// the older file when the volume refuses a rename. Either way both files
// stay, and an entry added for an unlisted name is taken back out.
TEST_F(ImageInstallTest, AFailedMoveLosesNoFileAndLeavesTheDirectoryAsItWas) {
    const struct {
        const char* what;
        std::string directory;
        const char* name;
        bool received;
    } cases[] = {
        {"listed, nothing received", TWO_IMAGES, "image1", false},
        {"listed, move aside refused", TWO_IMAGES, "image1", true},
        {"unlisted, nothing received", DEFAULT_DIM, "image2", false},
        {"unlisted, move aside refused", DEFAULT_DIM, "image2", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        initializeFrom(c.directory);
        board.writeFile(c.name, oldCode);
        std::filesystem::remove(board.filePath("xcode.bin"));
        if (c.received) {
            board.writeFile("xcode.bin", newCode);
            // An unlisted name is added first, and the directory's rewrite
            // ends in a rename of its own.
            board.volume().injectFailure(sim::HostVolume::Operation::Rename, 1, c.directory == TWO_IMAGES ? 0 : 1);
        }
        EXPECT_NE(install("xcode.bin", c.name), 0);
        EXPECT_EQ(loader.takeOutput(), " Error renaming the file \n");
        EXPECT_EQ(board.readFile(c.name), oldCode);
        EXPECT_EQ(board.fileExists("xcode.bin"), c.received);
        EXPECT_FALSE(board.fileExists(std::string(c.name) + ".prev"));
        EXPECT_EQ(file(), c.directory);
        EXPECT_EQ(roles("image2"), c.directory == TWO_IMAGES ? "(backup, backup)" : "free");
    }
}

TEST_F(ImageInstallTest, ANameTheDirectoryCannotHoldChangesNothingAndIntoAnEmptyOneTheImageBecomesTheDefault) {
    initializeFrom("");
    board.writeFile("xcode.bin", newCode);
    EXPECT_EQ(install("xcode.bin", "image3"), -3);
    EXPECT_EQ(loader.takeOutput(), "Error adding the image -3 \n");
    EXPECT_EQ(board.readFile("xcode.bin"), newCode);
    EXPECT_FALSE(board.fileExists("image3"));
    EXPECT_EQ(file(), "");
    EXPECT_EQ(install("xcode.bin", "image1"), 0);
    EXPECT_EQ(board.readFile("image1"), newCode);
    EXPECT_EQ(file(), DEFAULT_DIM);
}

TEST_F(ImageInstallTest, AnUnlistedNameDeletesTheBackupFileAndAddsTheEntry) {
    initializeFrom(BACKUP_ENTRY);  // image2 the backup, image1 not listed
    board.writeFile("image2", oldCode);
    board.writeFile("xcode.bin", newCode);
    EXPECT_EQ(install("xcode.bin", "image1"), 0);
    EXPECT_FALSE(board.fileExists("image2"));
    EXPECT_EQ(board.readFile("image1"), newCode);
    EXPECT_EQ(file(), BACKUP_ENTRY + "---IMAGE---\nbackup\nbackup\nimage1\n0\n\n");
}

}  // namespace
