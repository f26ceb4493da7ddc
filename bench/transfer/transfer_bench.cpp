// swboot_transfer_bench: the loader's xmodem command against lrzsz, in real
// time over a pseudo-terminal, with a 16 MiB file.
//
// Receiving: the loader receives from `sx -k`, once with the code load's
// letters ("-cbrke": CRC, a 1K request after each CRC request, first EOT
// taken) and once with "rbc" (no 1K request; sx -k sends 1024-byte blocks
// anyway); lrzsz's own `rx -c` receives the same file from `sx -k` over a
// pseudo-terminal of its own in the same run. Sending: the loader sends with
// "cbske" to `rx -c`, against `sx -k` sending to `rx -c`.
//
// Every lrzsz program runs on pipes behind the test harness's relay (see
// tests/system/harness/line_peer.h), so each side of a comparison passes
// through the same kind of terminal and relay; lrzsz against lrzsz has one
// relay more than the loader, which runs in this process on the master side.
//
// Each run is split where the bytes on the line show it:
//   before     the call (or the program's start) to the receiver's first request
//   handshake  that request to the first data block
//   blocks     the first data block to the acknowledgement of the end of file
//   after      that acknowledgement to the end of the call (or the program's exit)
// and the block phase gives the rate. The loader's fixed waits (the pause
// before the transfer, the 5 seconds after it) fall outside the block phase;
// the CRC pass of a code load is timed on its own afterwards.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "harness/files.h"
#include "harness/line_peer.h"
#include "harness/pty_board.h"
#include "memory_ratios.h"

extern char** environ;

namespace {

using namespace interop;

constexpr const char* CONTROL_X_HINT = "Send several Control-X characters to cancel before transfer starts.\r\n\r";
constexpr uint8_t SOH = 0x01;
constexpr uint8_t STX = 0x02;
constexpr size_t DEFAULT_SIZE = 16u << 20;
// The paced code load: a smaller file, at the speed a person would choose.
constexpr size_t DEFAULT_PACED_SIZE = 300u << 10;
constexpr uint32_t PACED_SPEED = 115200;
constexpr auto PEER_LIMIT = std::chrono::minutes(2);

double seconds(Steady::duration d) { return std::chrono::duration<double>(d).count(); }

// When things happened on the line, seen from the relays.
class Timeline {
public:
    // The receiver's first request (C, NAK).
    void request(Steady::time_point when) { first(request_, when); }
    // A chunk from the sender: the first one that starts a block is the
    // first data block.
    void fromSender(const uint8_t* data, size_t length, Steady::time_point when) {
        std::lock_guard<std::mutex> lock(mutex_);
        const bool blockStart = length > 1 && (data[0] == SOH || data[0] == STX);
        if (request_ && !firstBlock_ && blockStart) {
            firstBlock_ = when;
        }
        if (request_ && !secondBlock_ && blockStart && data[1] == 2) {
            secondBlock_ = when;
            firstBlockSize_ = data[0] == STX ? 1024 : 128;
        }
    }
    // A chunk from the receiver: the last one is its acknowledgement of the
    // end of file.
    void fromReceiver(Steady::time_point when) {
        std::lock_guard<std::mutex> lock(mutex_);
        lastAnswer_ = when;
        if (!request_) {
            request_ = when;
        }
    }

    std::optional<Steady::time_point> request_, firstBlock_, secondBlock_, lastAnswer_;
    size_t firstBlockSize_ = 0;

private:
    void first(std::optional<Steady::time_point>& slot, Steady::time_point when) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!slot) {
            slot = when;
        }
    }
    std::mutex mutex_;
};

struct Run {
    std::string name;
    bool ok = false;
    double total = 0, before = 0, handshake = 0, blocks = 0, after = 0;
    size_t bytes = 0;
    // From the second block on: what follows the first block's own
    // handshake (sx -k takes the "K" of "C K" as junk and sends the first
    // block twice, about 7 s apart).
    double laterBlocks = 0;
    size_t laterBytes = 0;
    std::string note;

    double rate() const { return blocks > 0 ? double(bytes) / blocks : 0; }
    double laterRate() const { return laterBlocks > 0 ? double(laterBytes) / laterBlocks : 0; }
};

Run phases(const std::string& name, size_t bytes, Steady::time_point start, Steady::time_point end, Timeline& t) {
    Run run;
    run.name = name;
    run.bytes = bytes;
    run.total = seconds(end - start);
    if (!t.request_ || !t.firstBlock_ || !t.lastAnswer_) {
        run.note = "the line showed no complete transfer";
        return run;
    }
    run.before = seconds(*t.request_ - start);
    run.handshake = seconds(*t.firstBlock_ - *t.request_);
    run.blocks = seconds(*t.lastAnswer_ - *t.firstBlock_);
    run.after = seconds(end - *t.lastAnswer_);
    if (t.secondBlock_ && bytes > t.firstBlockSize_) {
        run.laterBlocks = seconds(*t.lastAnswer_ - *t.secondBlock_);
        run.laterBytes = bytes - t.firstBlockSize_;
    }
    return run;
}

PeerOptions peer(std::vector<std::string> argv, const ScratchDir& dir, FlowObserver observer, bool afterHint) {
    PeerOptions options;
    options.argv = std::move(argv);
    options.workDir = dir.path();
    options.limit = PEER_LIMIT;
    options.observer = std::move(observer);
    if (afterHint) {
        options.startAfter = CONTROL_X_HINT;
    }
    return options;
}

// Runs a program with the terminal as its standard input and output until
// it exits (at most the peer limit); when it exited, and its status.
Steady::time_point runOnTerminal(std::vector<std::string> argv, const std::string& terminal,
                                 const std::filesystem::path& workDir, int& status) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, terminal.c_str(), O_RDWR | O_NOCTTY, 0);
    posix_spawn_file_actions_adddup2(&actions, 0, 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    std::vector<char*> words;
    for (std::string& word : argv) {
        words.push_back(word.data());
    }
    words.push_back(nullptr);
    pid_t pid = -1;
    status = -1;
    int failed = posix_spawnp(&pid, words[0], &actions, nullptr, words.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        return Steady::now();
    }
    const Steady::time_point deadline = Steady::now() + PEER_LIMIT;
    int raw = 0;
    while (waitpid(pid, &raw, WNOHANG) == 0) {
        if (Steady::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &raw, 0);
            return Steady::now();
        }
        usleep(1000);
    }
    Steady::time_point exited = Steady::now();
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return exited;
}

// The loader receives the file from `sx -k` with the given letters.
// With a speed, the board's line is paced at it.
Run loaderReceives(const std::string& letters, const std::filesystem::path& file, size_t size,
                   uint32_t pacedSpeed = 0) {
    ScratchDir host("swboot-bench");
    std::filesystem::copy_file(file, host.path() / "data.bin");
    PtyBoard board(pacedSpeed != 0, pacedSpeed != 0 ? pacedSpeed : 9600);
    Timeline t;
    LinePeer sender(board.terminalPath(),
                    peer({"sx", "-k", "data.bin"}, host,
                         [&t](Flow flow, const uint8_t* data, size_t length, Steady::time_point when) {
                             if (flow == Flow::ToPeer) {
                                 t.request(when);
                                 t.fromReceiver(when);
                             } else {
                                 t.fromSender(data, length, when);
                             }
                         },
                         true));
    Steady::time_point start = Steady::now();
    int result = board.xmodem(letters + " xcode.bin");
    Steady::time_point end = Steady::now();
    PeerResult r = sender.finish();
    Run run = phases("loader " + letters + " <- sx -k" + (pacedSpeed != 0 ? " paced" : ""), size, start, end, t);
    std::vector<uint8_t> got = board.readFile("xcode.bin");
    std::vector<uint8_t> want = readHostFile(file);
    run.ok = result == 0 && r.exitStatus == 0 && got.size() >= want.size() &&
             std::equal(want.begin(), want.end(), got.begin());
    if (!run.ok) {
        run.note += " result " + std::to_string(result) + "; sx: " + r.summary();
    }
    if (run.ok && letters == "-cbrke" && pacedSpeed == 0) {
        // The code load's CRC pass over the received file.
        Steady::time_point crcStart = Steady::now();
        board.loader().images.fileCrc16("xcode.bin", static_cast<uint32_t>(got.size()));
        run.note = "CRC pass over the file: " + std::to_string(seconds(Steady::now() - crcStart)) + " s";
    }
    return run;
}

// The loader sends the file to `rx -c`.
Run loaderSends(const std::filesystem::path& file, size_t size) {
    ScratchDir host("swboot-bench");
    PtyBoard board;
    std::filesystem::copy_file(file, board.filePath("data.bin"));
    Timeline t;
    LinePeer receiver(board.terminalPath(),
                      peer({"rx", "-c", "got.bin"}, host,
                           [&t](Flow flow, const uint8_t* data, size_t length, Steady::time_point when) {
                               if (flow == Flow::FromPeer) {
                                   t.fromReceiver(when);
                               } else {
                                   t.fromSender(data, length, when);
                               }
                           },
                           true));
    Steady::time_point start = Steady::now();
    int result = board.xmodem("cbske data.bin");
    Steady::time_point end = Steady::now();
    PeerResult r = receiver.finish();
    Run run = phases("loader cbske -> rx -c", size, start, end, t);
    std::vector<uint8_t> got = readHostFile(host.path() / "got.bin");
    std::vector<uint8_t> want = readHostFile(file);
    run.ok = result == 0 && r.exitStatus == 0 && got.size() >= want.size() &&
             std::equal(want.begin(), want.end(), got.begin());
    if (!run.ok) {
        run.note += " result " + std::to_string(result) + "; rx: " + r.summary();
    }
    return run;
}

// lrzsz against itself: `sx -k` on the master side of a pseudo-terminal,
// behind the relay as it is for the loader, and `rx -c` on the slave side
// with the terminal as its standard input and output, as lrzsz is meant to
// run. On exit rx flushes its terminal, which may throw its last
// acknowledgement away: the block phase ends at the last answer seen on the
// line, and sx is stopped once rx has exited.
Run rxOnTerminal(const std::filesystem::path& file, size_t size) {
    ScratchDir from("swboot-bench");
    ScratchDir to("swboot-bench");
    std::filesystem::copy_file(file, from.path() / "data.bin");
    PtyPair pair = openPtyPair();
    Timeline t;
    Steady::time_point start = Steady::now();
    auto sender = std::make_unique<LinePeer>(
        pair.master, peer({"sx", "-k", "data.bin"}, from,
                          [&t](Flow flow, const uint8_t* data, size_t length, Steady::time_point when) {
                              if (flow == Flow::FromPeer) {
                                  t.fromSender(data, length, when);
                              } else {
                                  t.fromReceiver(when);
                              }
                          },
                          false));
    int status = -1;
    Steady::time_point end = runOnTerminal({"rx", "-c", "got.bin"}, pair.slavePath, to.path(), status);
    sender.reset();  // sx may still wait for the acknowledgement rx flushed away
    Run run = phases("rx -c (terminal) <- sx -k", size, start, end, t);
    std::vector<uint8_t> got = readHostFile(to.path() / "got.bin");
    std::vector<uint8_t> want = readHostFile(file);
    run.ok = status == 0 && got.size() >= want.size() && std::equal(want.begin(), want.end(), got.begin());
    if (!run.ok) {
        run.note += " rx exit status " + std::to_string(status);
    }
    return run;
}

// `sx -k` sending to `rx -c`, both on pipes behind relays on either side of
// a pseudo-terminal: rx as the loader's send run has it.
Run rxOnPipes(const std::filesystem::path& file, size_t size) {
    ScratchDir from("swboot-bench");
    ScratchDir to("swboot-bench");
    std::filesystem::copy_file(file, from.path() / "data.bin");
    PtyPair pair = openPtyPair();
    // The receiver's relay gets a copy of the master side: the original
    // stays open until the sender is done, or closing it would hang the
    // terminal up under the sender before it read the last acknowledgement.
    int masterForRelay = dup(pair.master);
    Timeline t;
    Steady::time_point start = Steady::now();
    LinePeer sender(pair.slavePath, peer({"sx", "-k", "data.bin"}, from,
                                         [&t](Flow flow, const uint8_t* data, size_t length, Steady::time_point when) {
                                             if (flow == Flow::FromPeer) {
                                                 t.fromSender(data, length, when);
                                             }
                                         },
                                         false));
    LinePeer receiver(masterForRelay, peer({"rx", "-c", "got.bin"}, to,
                                           [&t](Flow flow, const uint8_t*, size_t, Steady::time_point when) {
                                               if (flow == Flow::FromPeer) {
                                                   t.fromReceiver(when);
                                               }
                                           },
                                           false));
    PeerResult r = receiver.finish();
    Steady::time_point end = r.exited;
    PeerResult s = sender.finish();
    close(pair.master);
    Run run = phases("sx -k -> rx -c (pipes)", size, start, end, t);
    std::vector<uint8_t> got = readHostFile(to.path() / "got.bin");
    std::vector<uint8_t> want = readHostFile(file);
    run.ok = r.exitStatus == 0 && s.exitStatus == 0 && got.size() >= want.size() &&
             std::equal(want.begin(), want.end(), got.begin());
    if (!run.ok) {
        run.note += " rx: " + r.summary() + "; sx: " + s.summary();
    }
    return run;
}

void print(const Run& run) {
    std::printf("%-28s %7.2f %7.3f %9.3f %7.2f %7.2f %10.0f  %s%s", run.name.c_str(), run.total, run.before,
                run.handshake, run.blocks, run.after, run.rate(), run.ok ? "" : "FAILED ", run.note.c_str());
    if (run.laterBlocks > 0 && run.name.find("paced") != std::string::npos) {
        std::printf("blocks 2 on: %.2f s, %.0f bytes/s", run.laterBlocks, run.laterRate());
    }
    std::printf("\n");
}

Run median(std::vector<Run> runs) {
    std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.blocks < b.blocks; });
    return runs[runs.size() / 2];
}

// A boot measurement without times is a board that never reached the
// hand-over: say so rather than give a ratio of nothing.
bool bootReached(const speedbench::Boot& boot) {
    if (boot.floor > 0) {
        return true;
    }
    std::fprintf(stderr, "boot to hand-over: the board did not reach the hand-over (or the floor's inflate failed)\n");
    return false;
}

int usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s [--size BYTES] [--paced-size BYTES] [--runs N] [--only "
                 "code-load|receive|rx|send|sx|paced|memory]\n"
                 "Times the loader's xmodem command against lrzsz (sx, rx) over a pseudo-terminal, and a code "
                 "load on a line paced at 115200 baud; then prints the table of ratios, with the image CRC and "
                 "the boot to hand-over measured beside their yardsticks.\n",
                 program);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    size_t size = DEFAULT_SIZE;
    size_t pacedSize = DEFAULT_PACED_SIZE;
    int runs = 1;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc) {
            size = std::strtoul(argv[++i], nullptr, 0);
        } else if (std::strcmp(argv[i], "--paced-size") == 0 && i + 1 < argc) {
            pacedSize = std::strtoul(argv[++i], nullptr, 0);
        } else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
            only = argv[++i];
        } else {
            return usage(argv[0]);
        }
    }
    for (const char* program : {"sx", "rx"}) {
        if (!programAvailable(program)) {
            std::fprintf(stderr, "%s is not installed (Debian package lrzsz)\n", program);
            return 1;
        }
    }
    if (only == "memory") {
        const speedbench::Pair crc = speedbench::imageCrcAgainstZlib();
        const speedbench::Boot boot = speedbench::bootAgainstFloor();
        std::printf("image CRC-16 %.0f MB/s, zlib crc32 %.0f MB/s: %.3f\n", crc.first / 1e6, crc.second / 1e6,
                    crc.first / crc.second);
        std::printf("boot to hand-over %.2f ms, read + inflate + CRC %.2f ms: %.3f; boot %.2f ms, as the boot "
                    "must %.2f ms: %.3f\n",
                    boot.boot * 1e3, boot.floor * 1e3, boot.floor > 0 ? boot.boot / boot.floor : 0.0,
                    boot.bootBesideStepped * 1e3, boot.stepped * 1e3,
                    boot.stepped > 0 ? boot.bootBesideStepped / boot.stepped : 0.0);
        return bootReached(boot) ? 0 : 1;
    }
    ScratchDir dir("swboot-bench");
    std::filesystem::path file = dir.path() / "data.bin";
    writeHostFile(file, testPattern(size, 16));
    std::filesystem::path pacedFile = dir.path() / "paced.bin";
    writeHostFile(pacedFile, testPattern(pacedSize, 17));

    struct Case {
        const char* title;
        std::function<Run()> run;
    };
    std::vector<Case> cases = {
        {"code-load", [&] { return loaderReceives("-cbrke", file, size); }},
        {"receive", [&] { return loaderReceives("rbc", file, size); }},
        {"rx", [&] { return rxOnTerminal(file, size); }},
        {"send", [&] { return loaderSends(file, size); }},
        {"sx", [&] { return rxOnPipes(file, size); }},
        {"paced", [&] { return loaderReceives("-cbrke", pacedFile, pacedSize, PACED_SPEED); }},
    };
    std::printf("%zu bytes (paced: %zu bytes at %u baud), %d run(s) each, median by block phase; times in "
                "seconds, rate in bytes/s of the block phase\n\n",
                size, pacedSize, PACED_SPEED, runs);
    std::printf("%-28s %7s %7s %9s %7s %7s %10s\n", "", "total", "before", "handshake", "blocks", "after", "rate");
    std::vector<Run> results;
    for (const Case& c : cases) {
        if (!only.empty() && only != c.title) {
            results.push_back(Run{});
            continue;
        }
        std::vector<Run> done;
        for (int i = 0; i < runs; ++i) {
            done.push_back(c.run());
            if (!done.back().ok) {
                print(done.back());
            }
        }
        results.push_back(median(done));
        print(results.back());
    }
    if (!only.empty()) {
        return std::any_of(results.begin(), results.end(), [](const Run& r) { return r.ok; }) ? 0 : 1;
    }
    const Run& withK = results[0];
    const Run& withoutK = results[1];
    const Run& rx = results[2];
    const Run& loaderSend = results[3];
    const Run& sxSend = results[4];
    const Run& paced = results[5];
    auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    std::printf("\nthe 1K request after C (-cbrke against rbc) costs %.2f s in the block phase\n",
                withK.blocks - withoutK.blocks);

    std::printf("\nmeasuring the image CRC and the boot to hand-over...\n");
    const speedbench::Pair crc = speedbench::imageCrcAgainstZlib();
    const speedbench::Boot boot = speedbench::bootAgainstFloor();
    const double lineRate = PACED_SPEED / 10.0;

    struct Row {
        const char* what;
        double ratio;
        const char* target;
        bool met;
    };
    const double pacedShare = ratio(paced.laterRate(), lineRate);
    const Row rows[] = {
        {"image CRC-16 / zlib crc32 (bytes per second, 16 MiB)", ratio(crc.first, crc.second), ">= 0.50",
         ratio(crc.first, crc.second) >= 0.5},
        {"boot to hand-over / (read + inflate + CRC), 16 MiB", ratio(boot.boot, boot.floor), "<= 1.30",
         boot.floor > 0 && ratio(boot.boot, boot.floor) <= 1.3},
        {"boot to hand-over / (2 reads + inflate in 1024/3072 steps + CRC)", ratio(boot.bootBesideStepped, boot.stepped), "",
         true},
        {"receiving from sx -k: loader rbc / rx -c (block phase)", ratio(withoutK.rate(), rx.rate()), ">= 1.00",
         ratio(withoutK.rate(), rx.rate()) >= 1.0},
        {"sending to rx -c: loader cbske / sx -k (block phase)", ratio(loaderSend.rate(), sxSend.rate()),
         ">= 1.00", ratio(loaderSend.rate(), sxSend.rate()) >= 1.0},
        {"paced code load -cbrke <- sx -k / line rate (blocks 2 on)", pacedShare, ">= 0.97", pacedShare >= 0.97},
        {"paced code load -cbrke <- sx -k / line rate (block phase)", ratio(paced.rate(), lineRate), "", true},
    };
    std::printf("\n%-60s %7s %9s\n", "ratio, each side by side in this run", "", "target");
    for (const Row& row : rows) {
        std::printf("%-60s %7.3f %9s  %s\n", row.what, row.ratio, row.target,
                    *row.target == 0 ? "" : row.met ? "met" : "NOT MET");
    }
    std::printf("\n(CRC: %.0f MB/s against %.0f MB/s; boot: %.1f ms against %.1f ms, and %.1f ms against %.1f ms "
                "as the boot must do the work; processor time. The paced run loads %zu bytes at %u baud, whose line "
                "rate is %.0f bytes/s)\n",
                crc.first / 1e6, crc.second / 1e6, boot.boot * 1e3, boot.floor * 1e3, boot.bootBesideStepped * 1e3,
                boot.stepped * 1e3, pacedSize, PACED_SPEED, lineRate);
    bool ok = std::all_of(results.begin(), results.end(), [](const Run& r) { return r.ok; });
    return ok && bootReached(boot) ? 0 : 1;
}
