// Nothing lost, whatever the power does: each operation that changes what
// is stored runs once to count its persistent steps, then once more for
// every step with the power cut there (for the two flash operations of
// hundreds of thousands of steps, a spread sample of them). After each cut
// the board powers up again and boots with nobody at the console; it must
// start a good image where one existed before (the old one or the new one),
// read its image directory, keep its boot code, hold no more than its
// volume's capacity, and have lost or changed no file that the operation run
// whole leaves alone; the flash diagnostics lose the volume whole or not at all. A boot code update is the
// exception: cut between its first erase and its last program of the boot
// code region, the board does not start at all (a block of the region is
// torn), and then the service probe that writes boot code must bring it
// back; cut before or after that, it starts, holding the old or the new
// boot code.
//
// Each scenario prints its row of the table: the steps counted, the cut
// points, the share of them after which the board still started, and how
// many left it to the probe.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "boot_code.h"
#include "host/flash_probe.h"
#include "host/provision.h"
#include "image/flashacc.h"
#include "support/boot_spine_images.h"
#include "support/boot_texts.h"
#include "support/loader_on_board.h"
#include "support/test_board.h"
#include "support/xmodem_peer.h"

namespace {

using namespace testing_support;
using boot::goodImage;

const std::vector<uint8_t> OLD_IMAGE = goodImage({.codeSeed = 1, .timestamp = "old code"});
const std::vector<uint8_t> NEW_IMAGE = goodImage({.codeSeed = 2, .bootCode = true, .timestamp = "new code"});
const std::vector<uint8_t> BACKUP_IMAGE = goodImage({.codeSeed = 3, .timestamp = "backup code"});

struct Scenario {
    const char* name;
    // Plants the files on a freshly formatted volume.
    std::function<void(TestBoard&)> prepare;
    // The operation, on a loader in the state startup leaves; a cut ends it.
    std::function<void(TestBoard&, LoaderOnBoard&)> operate;
    // The codes that may start afterwards (their timestamps); empty when
    // the board had no good image.
    std::set<std::string> startable;
    // Files that must exist afterwards, each holding one of the given
    // contents.
    std::map<std::string, std::vector<std::vector<uint8_t>>> kept;
    // Run the operation as a whole boot instead (the startup scenarios).
    bool wholeBoot = false;
    // The boot code the operation writes, when it rewrites the boot code:
    // a cut may leave a board that will not start, which the service probe
    // must bring back; a board that starts holds the old or this one.
    std::vector<uint8_t> newBootCode = {};
    // The cut points among the steps counted; every one when not given.
    std::function<std::vector<uint64_t>(uint64_t steps)> cutPoints = nullptr;
    // The power-up finds or writes a directory naming an active image;
    // false for the flash diagnostics, which destroy the volume's window so
    // that the power-up formats the volume: no directory or an empty one.
    bool dimActive = true;
    // Some cut must leave the new "image1" in place with the old one still
    // aside as "image1.prev".
    bool newBesideOld = false;
};

// The content, or the content as XMODEM delivers it: the last block's
// padding after it.
bool sameOrPadded(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& content) {
    return bytes.size() >= content.size() && bytes.size() - content.size() < 1024 &&
           std::equal(content.begin(), content.end(), bytes.begin()) &&
           std::all_of(bytes.begin() + static_cast<long>(content.size()), bytes.end(),
                       [](uint8_t b) { return b == 0x1A; });
}

struct Outcome {
    // The files the operation changed or removed, without a cut.
    std::set<std::string> changed;
    bool started = false;
    bool bricked = false;   // refused to start until the probe wrote boot code
    std::string code;       // the timestamp shown as the code started
    std::string problem;    // empty when every check held
    bool newBesideOld = false;  // the cut left the new "image1" in place and the old one aside
    // The steps of the boot code region's first erase and last program.
    uint64_t bootFlashFirst = 0;
    uint64_t bootFlashLast = 0;
    // Each erase of a block of the region, and the last program of each.
    std::map<uint32_t, uint64_t> bootFlashErases;
    std::map<uint32_t, uint64_t> bootFlashLastPrograms;
};

std::string timestampStarted(const std::string& console) {
    const std::string mark = "Operational Code Date: ";
    const size_t at = console.rfind(mark);
    return at == std::string::npos ? "" : console.substr(at + mark.size(), console.find('\n', at) - at - mark.size());
}

// Every file on the volume with its bytes.
std::map<std::string, std::string> volumeFiles(TestBoard& board) {
    std::map<std::string, std::string> files;
    for (const std::string& name : board.volume().storedFiles()) {
        files[name] = board.volume().fileContent(name).value_or("");
    }
    return files;
}

// Phase one: the operation, cut at the step (0: not cut). Phase two: a
// boot with nobody at the console. The steps the operation took are
// returned through `steps`. A file may be lost or changed after a cut only
// when the operation without a cut (`whole`) changed or removed it too.
Outcome runOnce(const Scenario& s, uint64_t cutAt, uint64_t seed, uint64_t* steps = nullptr,
                const Outcome* whole = nullptr) {
    TestBoard board;
    board.formatVolume();
    s.prepare(board);
    const std::vector<uint8_t> bootCodeBefore = board.bootCodeRegion();
    const std::map<std::string, std::string> filesBefore = volumeFiles(board);
    const std::vector<uint8_t> probed = swboot::tool::bootCodeBuild(9);
    const bool mayBrick = !s.newBootCode.empty();
    sim::PowerCut& power = board.board().powerCut();
    const uint64_t before = power.steps();
    Outcome outcome;
    board.board().flash().setCellHook([&](const sim::StrataFlash::CellWork& work) {
        // Each word of a program is a step of its own.
        const uint64_t first = power.steps() - before + 1;
        if (work.unit * sim::StrataFlash::UNIT_SIZE < swboot::BOOT_FLASH_BASE - swboot::FLASH_BASE) {
            return;
        }
        if (outcome.bootFlashFirst == 0) {
            outcome.bootFlashFirst = first;
        }
        outcome.bootFlashLast = first + (work.words.empty() ? 0 : work.words.size() - 1);
        const uint32_t block = work.unit * sim::StrataFlash::DEVICES + work.device;
        (work.words.empty() ? outcome.bootFlashErases : outcome.bootFlashLastPrograms)[block] = outcome.bootFlashLast;
    });
    power.armAfter(cutAt, seed);
    if (s.wholeBoot) {
        bootOnPlatform(board.board().platform());
    } else {
        LoaderOnBoard loader(board, false);
        loader.run([&] { s.operate(board, loader); });
    }
    if (steps != nullptr) {
        *steps = power.steps() - before;
    }
    board.board().flash().setCellHook({});
    if (cutAt != 0 && power.cuts() != 1) {
        outcome.problem = "the power was not cut";
        return outcome;
    }
    // Which of its listed contents each kept file holds (-1: none); a start
    // never takes back one that a cut left in place.
    const auto held = [&] {
        std::map<std::string, int> index;
        for (const auto& [name, contents] : s.kept) {
            index[name] = -1;
            for (size_t i = 0; i < contents.size() && board.fileExists(name); ++i) {
                index[name] = sameOrPadded(board.readFile(name), contents[i]) ? static_cast<int>(i) : index[name];
            }
        }
        return index;
    };
    const std::map<std::string, int> heldAfterCut = held();
    outcome.newBesideOld = board.fileExists("image1.prev") && s.kept.count("image1") != 0 &&
                           heldAfterCut.at("image1") == static_cast<int>(s.kept.at("image1").size()) - 1;
    board.line().clearPending();
    board.line().clearOutput();
    const int handovers = board.board().core().handoverCount();
    outcome.bricked = board.run() == sim::EXIT_BRICKED;
    if (mayBrick && outcome.bricked != (whole != nullptr && cutAt >= whole->bootFlashFirst &&
                                        cutAt <= whole->bootFlashLast)) {
        outcome.problem = outcome.bricked ? "bricked by a cut outside the boot flash work;"
                                          : "started after a cut inside the boot flash work;";
        return outcome;
    }
    if (outcome.bricked) {
        if (!mayBrick) {
            outcome.problem = "bricked;";
            return outcome;
        }
        const std::string still = sim::flashBootProbe(board.board().flash(), probed);
        if (!still.empty() || board.run() == sim::EXIT_BRICKED) {
            outcome.problem = "bricked after the probe: " + still + ";";
            return outcome;
        }
    }
    const std::string console = plainText(board.output());
    outcome.started = board.board().core().handoverCount() > handovers;
    outcome.code = timestampStarted(console);
    if (!s.startable.empty()) {
        if (!outcome.started) {
            outcome.problem = "no code started";
        } else if (s.startable.count(outcome.code) == 0) {
            outcome.problem = "started \"" + outcome.code + "\"";
        }
    }
    // The directory the operation left reads back (a startup that was cut
    // before writing one finds none, as before, and writes it now).
    if (!s.wholeBoot && console.find("dimInitialize returned") != std::string::npos) {
        outcome.problem += " boot.dim unreadable;";
    }
    if (!s.dimActive && !board.fileExists("boot.dim")) {
        // A formatted volume: the directory comes with the first image.
    } else if (!board.fileExists("boot.dim") || board.readText("boot.dim").rfind("---IMAGE---\n", 0) != 0 ||
               (s.dimActive && board.readText("boot.dim").find("\nactive\nactive\n") == std::string::npos)) {
        outcome.problem += " boot.dim names no active image;";
    }
    // Whatever the board started from is one whole boot code: the old one,
    // the new one, or the probe's.
    const std::vector<uint8_t> region = board.bootCodeRegion();
    if (region != bootCodeBefore && !(mayBrick && region == s.newBootCode) &&
        !(outcome.bricked && region == probed)) {
        outcome.problem += outcome.bricked ? " boot code not the probe's;" : " started from a changed boot code;";
    }
    const std::map<std::string, std::string> filesAfter = volumeFiles(board);
    // No cut leaves more on the volume than it holds (the simulator would
    // refuse to start on it).
    if (const std::string full = board.volume().capacityProblem(); !full.empty()) {
        outcome.problem += " " + full + ";";
    }
    // The flash diagnostics' first erase takes the whole volume at once:
    // after a cut it is all there or all gone, never a part of it.
    if (!s.dimActive) {
        size_t kept = 0;
        for (const auto& [name, bytes] : filesBefore) {
            const auto now = filesAfter.find(name);
            kept += now != filesAfter.end() && now->second == bytes ? 1 : 0;
        }
        if (kept != 0 && kept != filesBefore.size()) {
            outcome.problem += " " + std::to_string(kept) + " of " + std::to_string(filesBefore.size()) +
                               " files kept;";
        }
    }
    for (const auto& [name, bytes] : filesBefore) {
        const auto now = filesAfter.find(name);
        if (whole == nullptr) {
            if (now == filesAfter.end() || now->second != bytes) {
                outcome.changed.insert(name);
            }
        } else if (whole->changed.count(name) == 0) {
            outcome.problem += now == filesAfter.end() ? " " + name + " lost;"
                               : now->second != bytes  ? " " + name + " changed;"
                                                       : "";
        }
    }
    for (const auto& [name, index] : held()) {
        outcome.problem += !board.fileExists(name)      ? " " + name + " lost;"
                           : index < 0                  ? " " + name + " changed;"
                           : index < heldAfterCut.at(name) ? " " + name + " taken back;"
                                                         : "";
    }
    return outcome;
}

// A board with "image1" active and "image2" a good backup.
void twoGoodImages(TestBoard& board) {
    board.writeFile("image1", OLD_IMAGE);
    board.writeFile("image2", BACKUP_IMAGE);
    board.writeFile("boot.dim", boot::TWO_IMAGES);
}

// A VPD generator's answers unlike the ones the board was made with.
void typeNewVpdAnswers(TestBoard& board) {
    board.typeLines({"000629328199", "SIM0000042", "112007", "10K7902", "B"});
}

// vpd.bin as the generator writes it from the new answers.
const std::vector<uint8_t>& vpdFromNewAnswers() {
    static const std::vector<uint8_t> record = [] {
        TestBoard board;
        LoaderOnBoard loader(board);
        typeNewVpdAnswers(board);
        loader.run([&] { loader->vpd.vpdGenerate(); });
        return board.readFile("vpd.bin");
    }();
    return record;
}

const std::vector<uint8_t> BOOT_CODE = swboot::tool::bootCodeBuild(5);

// For operations of hundreds of thousands of steps (each flash word
// programmed is one): the first and last `ends` steps, and `parts` - 1
// evenly spread between them.
std::function<std::vector<uint64_t>(uint64_t)> sampled(uint64_t ends, uint64_t parts) {
    return [ends, parts](uint64_t steps) {
        std::set<uint64_t> at;
        for (uint64_t k = 1; k <= ends && k <= steps; ++k) {
            at.insert(k);
            at.insert(steps + 1 - k);
        }
        for (uint64_t k = 1; k < parts; ++k) {
            at.insert(steps * k / parts);
        }
        return std::vector<uint64_t>(at.begin(), at.end());
    };
}

// One image, the default directory.
void oneGoodImage(TestBoard& board) {
    board.writeFile("image1", OLD_IMAGE);
    board.writeFile("boot.dim", boot::DEFAULT_DIM);
}

std::vector<Scenario> scenarios() {
    const std::vector<uint8_t> defaultDim(boot::DEFAULT_DIM.begin(), boot::DEFAULT_DIM.end());
    const auto asMade = sim::vpdRecord(sim::BoardProfile::builtin());
    const std::vector<uint8_t> vpdAsMade(asMade.begin(), asMade.end());
    return {
        {.name = "code load (option 4), backup present", .prepare = twoGoodImages,
         .operate = [](TestBoard& board, LoaderOnBoard& loader) {
             loader->dim.dimInitialize();
             XmodemSenderPeer peer(board.line(), XmodemSenderPeer::Protocol::Xmodem, {PeerFile{"", NEW_IMAGE, ""}},
                                   1024);
             loader->codeLoad.codeLoadXmodem(swboot::DEVICE_TARGET_ID);
         },
         .startable = {"old code", "new code"},
         .kept = {{"image1", {OLD_IMAGE, NEW_IMAGE}}, {"image2", {BACKUP_IMAGE}}},
         .newBesideOld = true},
        {.name = "backup activation (option 11)", .prepare = twoGoodImages,
         .operate = [](TestBoard&, LoaderOnBoard& loader) {
             loader->dim.dimInitialize();
             loader->dim.backupImageActivate();
         },
         .startable = {"old code", "backup code"},
         .kept = {{"image1", {OLD_IMAGE}}, {"image2", {BACKUP_IMAGE}}}},
        {.name = "startup without boot.dim, with code.bin",
         .prepare = [](TestBoard& board) { board.writeFile("code.bin", NEW_IMAGE); },
         .startable = {"new code"},
         .wholeBoot = true},
        {.name = "event log erase at startup (damaged log2.bin)",
         .prepare = [](TestBoard& board) {
             oneGoodImage(board);
             board.writeFile("log2.bin", std::vector<uint8_t>(52 * 3, 0x5A));
         },
         .startable = {"old code"},
         .kept = {{"image1", {OLD_IMAGE}}, {"boot.dim", {defaultDim}}},
         .wholeBoot = true},
        {.name = "VPD generator rewriting vpd.bin (utilities)", .prepare = oneGoodImage,
         .operate = [](TestBoard& board, LoaderOnBoard& loader) {
             typeNewVpdAnswers(board);
             loader->vpd.vpdGenerate();
         },
         .startable = {"old code"},
         .kept = {{"image1", {OLD_IMAGE}}, {"vpd.bin", {vpdAsMade, vpdFromNewAnswers()}}}},
        {.name = "boot code update (option 7)", .prepare = oneGoodImage,
         .operate = [](TestBoard&, LoaderOnBoard& loader) {
             // bootcode.bin as option 4 leaves it; option 7; the menu's next
             // start deleting it: steps before and after the flash work.
             swboot::Files& files = loader->p.files;
             const int fd = files.open("bootcode.bin", swboot::OPEN_CREAT | swboot::OPEN_WRONLY, 0644);
             files.write(fd, BOOT_CODE.data(), BOOT_CODE.size());
             files.close(fd);
             loader->flash.flashLockBitsClear();
             loader->flash.bootCodeUpdate("bootcode.bin");
             files.remove("bootcode.bin");
         },
         .startable = {"old code"},
         .kept = {{"image1", {OLD_IMAGE}}, {"boot.dim", {defaultDim}}},
         .newBootCode = BOOT_CODE,
         .cutPoints = sampled(12, 16)},
        {.name = "flash diagnostics (option 6), one pass, over a volume with an image", .prepare = oneGoodImage,
         .operate = [](TestBoard& board, LoaderOnBoard& loader) {
             board.type("1");
             loader->flash.flashLockBitsClear();
             loader->flashDiags.run_flash_diags();
         },
         .cutPoints = sampled(2, 6),
         .dimActive = false},
    };
}

class PowerCut : public ::testing::TestWithParam<size_t> {};

// One row of the table per scenario: | scenario | persistent steps | cut
// points | still starts | bricked, then probed |.
TEST_P(PowerCut, EveryStepLeavesABoardThatStarts) {
    const Scenario s = scenarios()[GetParam()];
    SCOPED_TRACE(s.name);
    uint64_t steps = 0;
    Outcome whole = runOnce(s, 0, 0, &steps);
    ASSERT_EQ(whole.problem, "") << "without a cut";
    ASSERT_GT(steps, 0u);
    std::vector<uint64_t> points;
    if (s.cutPoints) {
        points = s.cutPoints(steps);
        // Besides, in a boot code update: every erase, and the last word
        // of each block and the step after it.
        std::set<uint64_t> at(points.begin(), points.end());
        for (const auto& [block, step] : whole.bootFlashErases) {
            at.insert(step);
        }
        for (const auto& [block, step] : whole.bootFlashLastPrograms) {
            at.insert({step, step + 1});
        }
        points.assign(at.begin(), at.end());
    } else {
        for (uint64_t at = 1; at <= steps; ++at) {
            points.push_back(at);
        }
    }
    int starts = 0;
    int cuts = 0;
    int bricked = 0;
    int newBesideOld = 0;
    for (uint64_t at : points) {
        for (uint64_t seed : {at, at * 7919 + 1, at * 104729 + 2}) {
            if (s.cutPoints && seed != at) {
                continue;  // sampled cut points: one seed each
            }
            Outcome o = runOnce(s, at, seed, nullptr, &whole);
            ++cuts;
            starts += o.started && !o.bricked ? 1 : 0;
            bricked += o.bricked ? 1 : 0;
            newBesideOld += o.newBesideOld ? 1 : 0;
            EXPECT_EQ(o.problem, "") << "cut at step " << at << " of " << steps << ", seed " << seed;
        }
    }
    EXPECT_TRUE(newBesideOld > 0 || !s.newBesideOld) << "no cut left the new image beside the old one";
    std::printf("| %s | %llu | %d | %d (%.0f%%) | %d |\n", s.name, static_cast<unsigned long long>(steps), cuts, starts,
                cuts ? 100.0 * starts / cuts : 0.0, bricked);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, PowerCut, ::testing::Range(size_t{0}, scenarios().size()));

}  // namespace
