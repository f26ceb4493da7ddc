// swboot-sim: the simulated switch board, running the boot loader as a
// normal process with its serial console on this terminal (or a
// pseudo-terminal, or a TCP port).
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "board/board_profile.h"
#include "host/console_log.h"
#include "host/console_script.h"
#include "host/data_files.h"
#include "host/diagnostics.h"
#include "host/flash_probe.h"
#include "host/provision.h"
#include "host/noisy_line.h"
#include "host/pty_line.h"
#include "host/sim_board.h"
#include "host/sim_clock.h"
#include "host/stdio_line.h"
#include "host/tcp_line.h"

namespace {

std::atomic<bool>* g_termination = nullptr;  // the one thing a signal handler may touch

void onTerminate(int) {
    if (g_termination != nullptr) {
        g_termination->store(true);
    }
}

std::filesystem::path defaultStateDir() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && *state != '\0') {
        return std::filesystem::path(state) / "swboot-sim" / "default";
    }
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home != nullptr ? home : ".") / ".local" / "state" / "swboot-sim" / "default";
}

uint32_t parseNumber(const std::string& text, const char* what) {
    try {
        size_t used = 0;
        unsigned long value = std::stoul(text, &used, 0);
        if (used != text.size() || value > 0xFFFFFFFFul) {
            throw std::invalid_argument(text);
        }
        return static_cast<uint32_t>(value);
    } catch (const std::exception&) {
        throw CLI::ValidationError(std::string("invalid ") + what + " '" + text + "'");
    }
}

sim::MemoryDump parseDump(const std::string& text) {
    size_t first = text.find(':');
    size_t second = first == std::string::npos ? std::string::npos : text.find(':', first + 1);
    if (second == std::string::npos) {
        throw CLI::ValidationError("--dump-memory wants ADDR:LENGTH:FILE, got '" + text + "'");
    }
    sim::MemoryDump dump;
    dump.address = parseNumber(text.substr(0, first), "dump address");
    dump.length = parseNumber(text.substr(first + 1, second - first - 1), "dump length");
    dump.file = text.substr(second + 1);
    if (dump.file.empty()) {
        throw CLI::ValidationError("--dump-memory needs a file name");
    }
    return dump;
}

// "tcp:PORT" gives the port; anything else that is not a console kind is
// refused with the reason.
std::string consoleKindCheck(const std::string& kind) {
    if (kind == "stdio" || kind == "pty") {
        return {};
    }
    if (kind.rfind("tcp:", 0) == 0) {
        std::string port = kind.substr(4);
        if (!port.empty() && port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos &&
            std::stoul(port) <= 65535) {
            return {};
        }
        return "tcp:PORT wants a port number 0 to 65535 (0 picks a free one), got '" + port + "'";
    }
    return "the console is stdio, pty or tcp:PORT, not '" + kind + "'";
}

// "machine-check@SECONDS": board time of the fault in microseconds, or -1
// when the text is not one.
constexpr const char* FAULT_MACHINE_CHECK = "machine-check@";

int64_t faultMicros(const std::string& fault) {
    if (fault.rfind(FAULT_MACHINE_CHECK, 0) != 0) {
        return -1;
    }
    std::string when = fault.substr(std::strlen(FAULT_MACHINE_CHECK));
    if (when.empty() || when.find_first_not_of("0123456789.") != std::string::npos) {
        return -1;
    }
    try {
        size_t used = 0;
        double seconds = std::stod(when, &used);
        if (used != when.size() || seconds < 0 || seconds > 1e9) {
            return -1;
        }
        return static_cast<int64_t>(seconds * 1e6);
    } catch (const std::exception&) {
        return -1;
    }
}

std::string faultCheck(const std::string& fault) {
    if (faultMicros(fault) < 0) {
        return "--fault wants machine-check@SECONDS (e.g. machine-check@12.5), got '" + fault + "'";
    }
    return {};
}

// The console line chosen on the command line. Lines other than this
// terminal wait for a program to connect before the board powers on.
struct ConsoleLine {
    std::unique_ptr<sim::SerialLine> line;
    std::function<bool(const std::atomic<bool>&)> waitForClient;
};

ConsoleLine openConsole(const std::string& kind, sim::SimClock& clock, sim::Diagnostics& diagnostics,
                        const std::filesystem::path& stateDir) {
    ConsoleLine console;
    if (kind == "pty") {
        auto pty = std::make_unique<sim::PtyLine>(clock, diagnostics, stateDir / "console");
        sim::PtyLine* line = pty.get();
        console.waitForClient = [line](const std::atomic<bool>& stop) { return line->waitForClient(stop); };
        console.line = std::move(pty);
    } else if (kind.rfind("tcp:", 0) == 0) {
        auto port = static_cast<uint16_t>(std::stoul(kind.substr(4)));
        auto tcp = std::make_unique<sim::TcpLine>(clock, diagnostics, port);
        sim::TcpLine* line = tcp.get();
        console.waitForClient = [line](const std::atomic<bool>& stop) { return line->waitForClient(stop); };
        console.line = std::move(tcp);
    } else {
        console.line = std::make_unique<sim::StdioLine>(clock, diagnostics);
    }
    return console;
}

// The profile in use: one given now is kept in the state directory, so that
// the same board comes back next time without naming it again.
sim::BoardProfile chooseProfile(const std::string& given, const std::filesystem::path& stateDir) {
    std::filesystem::path kept = stateDir / "profile.toml";
    if (!given.empty()) {
        sim::BoardProfile profile = sim::BoardProfile::load(given);
        std::filesystem::copy_file(given, kept, std::filesystem::copy_options::overwrite_existing);
        return profile;
    }
    if (std::filesystem::exists(kept)) {
        return sim::BoardProfile::load(kept);
    }
    std::ofstream(kept) << sim::BoardProfile::defaultText();
    return sim::BoardProfile::builtin();
}

// A profile given by name ("fiber") is one of the shipped profiles; a file
// that exists is taken as it is.
std::string resolveProfile(const std::string& given) {
    std::error_code error;
    if (given.empty() || std::filesystem::exists(given, error)) {
        return given;
    }
    if (auto shipped = sim::shippedProfile(given)) {
        return shipped->string();
    }
    std::string names;
    for (const std::string& name : sim::shippedProfileNames()) {
        names += (names.empty() ? "" : ", ") + name;
    }
    throw std::runtime_error("no profile file '" + given + "', nor a shipped profile of that name (shipped: " +
                             (names.empty() ? "none found" : names) + ")");
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"swboot-sim - the simulated switch board running the boot loader.\n"
                 "The console of the board is this terminal unless --console says otherwise.\n"
                 "Console keys on a terminal: Ctrl-A x quits, Ctrl-A r resets the board, Ctrl-A m makes a machine check, "
                 "Ctrl-A h helps."};
    app.set_help_flag("-h,--help", "Print this help and exit");

    std::string stateDir = defaultStateDir().string();
    std::string profileFile;
    std::string console = "stdio";
    std::string clockKind = "real";
    std::string onHandover = "run";
    std::string loaderKind = "native";
    std::string lineSpeed = "off";
    std::vector<std::string> traces;
    std::vector<std::string> dumps;
    bool printProfile = false;
    uint64_t powerCutAfter = 0;
    std::string lineNoise;
    std::vector<std::string> faults;
    uint64_t powerCutSeed = 0;
    bool consoleNoWait = false;
    bool provisionForce = false;
    bool provisionIfNew = false;
    std::string consoleLogFile;
    std::string scriptFile;

    app.add_option("--state", stateDir,
                   "State directory of the board: its NOR flash image (flash.bin), the files of its flash "
                   "volume (volume/) and the board profile in use (profile.toml). A new directory is a "
                   "factory-fresh board.")
        ->capture_default_str();
    app.add_option("--profile", profileFile,
                   "Board profile (TOML) to use, a file or the name of a shipped one (fiber, bad-ram, bad-ram-image); it is kept "
                   "in the state directory for later runs. Without it, the state directory's profile, or the "
                   "built-in 48-port board.");
    app.add_option("--console", console,
                   "Console line: stdio (this terminal); pty (a new pseudo-terminal, its path printed as "
                   "'console: /dev/pts/N' and linked as 'console' in the state directory, for picocom, "
                   "minicom or lrzsz); tcp:PORT (a raw TCP port on 127.0.0.1, one client at a time; 0 picks "
                   "a free port). With pty or tcp the board powers on when the first program connects; one "
                   "that leaves is an unplugged cable, and the next one gets the line.")
        ->capture_default_str()
        ->check(consoleKindCheck, "stdio|pty|tcp:PORT");
    app.add_option("--console-log", consoleLogFile,
                   "Append everything the board prints on its console (with what was typed, as the board echoes "
                   "it) to FILE as it goes; file transfers' protocol bytes and the simulator's own messages are "
                   "left out");
    app.add_option("--script", scriptFile,
                   "Drive the console from FILE, one step a line: expect TEXT, send TEXT (\\r \\n \\xHH), "
                   "timeout SECONDS (default 30), sx|sb|rx ARGUMENTS (that lrzsz program with them, on the line), reset, "
                   "power-cut, # comment. Exit status 0 when every step passed, 7 naming the failed step's line "
                   "and the console's last text otherwise (see docs/console.md)");
    app.add_flag("--no-wait", consoleNoWait,
                 "With --console pty or tcp: power the board on at once instead of waiting for a program to "
                 "connect");
    app.add_option("--line-speed", lineSpeed,
                   "paced: every character on the console line takes ten bit times each way at the speed the "
                   "loader set (9600 at power-on, then what Boot Menu option 2 chose), as on the board's UART, "
                   "and each file transfer is reported with its duration and the share of the line rate it "
                   "used; off: bytes take no time")
        ->capture_default_str()
        ->check(CLI::IsMember({"paced", "off"}));
    app.add_option("--clock", clockKind,
                   "real: board time is real time; virtual: delays and timeouts pass at once")
        ->capture_default_str()
        ->check(CLI::IsMember({"real", "virtual"}));
    app.add_option("--loader", loaderKind,
                   "What runs on the board: native (the loader as a host program standing in for the boot code; "
                   "quick) or firmware (the emulated e500 core starts at the reset vector and runs whatever the "
                   "boot flash holds, such as the loader built as firmware, which flash-boot writes)")
        ->capture_default_str()
        ->check(CLI::IsMember({"native", "firmware"}));
    app.add_option("--on-handover", onHandover,
                   "What the board does when the loader starts the operational code: run (the code runs on an "
                   "emulated e500 core that sees this board; it resets the board through the CPLD, and a bus "
                   "error or an illegal instruction stops it with a report), wait (the code owns the board; "
                   "Ctrl-A r resets), exit (exit status 0 after the report), return (the call returns the "
                   "start mode to the loader)")
        ->capture_default_str()
        ->check(CLI::IsMember({"run", "wait", "exit", "return"}));
    app.add_option("--dump-memory", dumps,
                   "ADDR:LENGTH:FILE - at the hand-over, write LENGTH bytes of RAM from ADDR to FILE "
                   "(repeatable; numbers in C notation, e.g. 0x10000:0x100000:code.bin)");
    app.add_option("--trace", traces,
                   "Trace a device on standard error (repeatable): cpld (lamps, displays, reset, I2C mux), flash (every "
                   "command to the boot flash parts and what each device did with it), "
                   "i2c (start, address, data and stop events on the I2C bus)")
        ->check(CLI::IsMember({"cpld", "flash", "i2c"}));
    app.add_option("--power-cut-after", powerCutAfter,
                   "Remove power at this persistent step (1 is the first volume file create, write, truncate, "
                   "rename or delete, or flash program or erase, counted from power-on); the step is left half "
                   "done as the medium would leave it, and the board powers up again from what is stored");
    app.add_option("--power-cut-seed", powerCutSeed,
                   "Seed for the half-done result of the cut step (the bytes a write keeps, whether a rename "
                   "happened, the bits an erase leaves)")
        ->capture_default_str();
    app.add_option("--line-noise", lineNoise,
                   "RATE[:SEED] - noise on the console line in both directions: each byte is, with probability "
                   "RATE, dropped or given one flipped bit (even odds); SEED (default 1) repeats a run exactly");
    app.add_option("--fault", faults,
                   "machine-check@SECONDS - the processor takes a machine check at the first console access or "
                   "wait after SECONDS of board time (a decimal number, counted from power-on), once per run; "
                   "the loader reports it with the exception message and a stack trace and reboots the board")
        ->check(faultCheck, "machine-check@SECONDS");
    app.add_flag("--print-profile", printProfile, "Print the built-in board profile and exit");

    CLI::App* provision = app.add_subcommand(
        "provision",
        "Make the state directory a factory-provisioned board: a formatted flash volume holding the unit's "
        "vital product data (vpd.bin, from the profile's [vpd] values) and a demo operational code image "
        "(image1, with boot code). Then run swboot-sim without the subcommand to boot it.");
    provision->add_option("--state", stateDir, "State directory to provision")->capture_default_str();
    provision->add_option("--profile", profileFile,
                          "Board profile (TOML file or shipped name) whose values are programmed");
    provision->add_flag("--force", provisionForce, "Provision even if the directory already holds a board "
                                                   "(its volume is formatted)");
    provision->add_flag("--if-new", provisionIfNew, "Provision only a directory that holds no board yet; "
                                                    "otherwise do nothing");

    std::string bootCodeFile;
    CLI::App* flashBoot = app.add_subcommand(
        "flash-boot",
        "Write a boot code file (1 byte to 1 MiB) into the boot code region (0xFFF00000) of the board's flash, "
        "as a JTAG probe would with the board held in reset: the way back for a board that no longer starts.");
    flashBoot->add_option("--state", stateDir, "State directory of the board")->capture_default_str();
    flashBoot->add_option("file", bootCodeFile,
                          "Boot code file, e.g. a bootcode.bin taken off a working unit (default: the loader built "
                          "as firmware, the bootcode.bin among the simulator's data)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }
    if (printProfile) {
        std::cout << sim::BoardProfile::defaultText();
        return 0;
    }
    try {
        profileFile = resolveProfile(profileFile);
    } catch (const std::exception& e) {
        std::cerr << "swboot-sim: " << e.what() << "\n";
        return 1;
    }

    if (*provision) {
        try {
            std::filesystem::path dir = stateDir;
            if (provisionIfNew && std::filesystem::exists(dir / "flash.bin")) {
                return 0;
            }
            std::filesystem::create_directories(dir);
            const sim::StateLock lock(dir);
            sim::BoardProfile profile = chooseProfile(profileFile, dir);
            sim::provisionBoard(dir, profile, provisionForce);
            std::cerr << "swboot-sim: provisioned " << dir.string() << " (vpd.bin, image1)\n";
            return 0;
        } catch (const std::exception& e) {
            std::cerr << "swboot-sim: " << e.what() << "\n";
            return 1;
        }
    }

    if (*flashBoot) {
        try {
            std::filesystem::path dir = stateDir;
            if (!std::filesystem::is_directory(dir)) {
                throw std::runtime_error("there is no board in " + dir.string());
            }
            const sim::StateLock lock(dir);
            if (bootCodeFile.empty()) {
                const auto built = sim::shippedDataFile("bootcode.bin");
                if (!built) {
                    throw std::runtime_error("no boot code file given, and this simulator has no firmware "
                                             "(bootcode.bin) beside it");
                }
                bootCodeFile = built->string();
            }
            std::ifstream in(bootCodeFile, std::ios::binary);
            if (!in) {
                throw std::runtime_error("cannot read " + bootCodeFile);
            }
            std::vector<uint8_t> code((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            sim::BoardProfile profile = std::filesystem::exists(dir / "profile.toml")
                                            ? sim::BoardProfile::load(dir / "profile.toml")
                                            : sim::BoardProfile::builtin();
            std::string problem = sim::flashBootWrite(dir, profile, code);
            if (!problem.empty()) {
                std::cerr << "swboot-sim: wrote " << code.size() << " bytes of boot code, but the board will not "
                          << "start: " << problem << "\n";
                return 1;
            }
            std::cerr << "swboot-sim: wrote " << code.size() << " bytes of boot code at 0xfff00000 in "
                      << (dir / "flash.bin").string() << "; the board starts again\n";
            return 0;
        } catch (const std::exception& e) {
            std::cerr << "swboot-sim: flash-boot: " << e.what() << "\n";
            return 1;
        }
    }

    sim::BoardOptions options;
    try {
        for (const std::string& d : dumps) {
            options.dumps.push_back(parseDump(d));
        }
    } catch (const CLI::ValidationError& e) {
        std::cerr << "swboot-sim: " << e.what() << "\n";
        return 2;
    }
    options.stateDir = stateDir;
    options.powerCutAfter = powerCutAfter;
    options.powerCutSeed = powerCutSeed;
    options.linePaced = lineSpeed == "paced";
    for (const std::string& fault : faults) {
        options.machineCheckAtMicros = faultMicros(fault);
    }
    options.loader = loaderKind == "firmware" ? sim::LoaderKind::Firmware : sim::LoaderKind::Native;
    options.onHandover = onHandover == "exit"     ? sim::OnHandover::Exit
                         : onHandover == "return" ? sim::OnHandover::Return
                         : onHandover == "wait"   ? sim::OnHandover::Wait
                                                  : sim::OnHandover::Run;
    for (const std::string& t : traces) {
        if (t == "cpld") {
            options.traceCpld = true;
        } else if (t == "flash") {
            options.traceFlash = true;
        } else if (t == "i2c") {
            options.traceI2c = true;
        }
    }

    std::vector<sim::ScriptStep> scriptSteps;
    if (!scriptFile.empty()) {
        if (console != "stdio") {
            std::cerr << "swboot-sim: --script drives the console itself; it does not go with --console " << console
                      << "\n";
            return 1;
        }
        std::ifstream in(scriptFile);
        if (!in) {
            std::cerr << "swboot-sim: cannot read the script " << scriptFile << "\n";
            return 1;
        }
        std::stringstream text;
        text << in.rdbuf();
        sim::ParsedScript parsed = sim::parseConsoleScript(text.str());
        if (!parsed.error.empty()) {
            std::cerr << "swboot-sim: " << scriptFile << " " << parsed.error << "\n";
            return 1;
        }
        scriptSteps = std::move(parsed.steps);
    }

    signal(SIGPIPE, SIG_IGN);
    try {
        std::filesystem::create_directories(options.stateDir);
        // Before anything of the board is read or written: a second
        // simulator on the same board stops here.
        options.stateLock = std::make_shared<sim::StateLock>(options.stateDir);
        options.profile = chooseProfile(profileFile, options.stateDir);

        std::unique_ptr<sim::SimClock> clock;
        if (clockKind == "virtual") {
            clock = std::make_unique<sim::VirtualClock>();
        } else {
            clock = std::make_unique<sim::RealClock>();
        }
        sim::Diagnostics diagnostics;
        ConsoleLine line;
        sim::ScriptLine* script = nullptr;
        if (!scriptFile.empty()) {
            auto scripted = std::make_unique<sim::ScriptLine>(*clock, diagnostics, std::move(scriptSteps), scriptFile);
            script = scripted.get();
            line.line = std::move(scripted);
        } else {
            line = openConsole(console, *clock, diagnostics, options.stateDir);
        }
        if (!consoleLogFile.empty()) {
            line.line = std::make_unique<sim::ConsoleLog>(std::move(line.line), consoleLogFile, diagnostics);
        }
        const sim::NoisyLine* noisyLine = nullptr;
        if (!lineNoise.empty()) {
            sim::LineNoise toBoard = sim::LineNoise::parse(lineNoise);
            // The two directions are hit independently.
            sim::LineNoise fromBoard(toBoard.rate(), toBoard.seed() ^ sim::LineNoise::OTHER_DIRECTION);
            auto noisy = std::make_unique<sim::NoisyLine>(std::move(line.line), toBoard, fromBoard);
            noisyLine = noisy.get();
            line.line = std::move(noisy);
        }
        sim::SimBoard board(options, *clock, *line.line, diagnostics);
        if (!line.waitForClient && line.line->interactive()) {
            diagnostics.line("swboot-sim: board state in " + options.stateDir.string() +
                             "; Ctrl-A h for help, Ctrl-A x to quit");
        }
        g_termination = &board.terminationFlag();
        signal(SIGTERM, onTerminate);
        signal(SIGINT, onTerminate);
        signal(SIGHUP, onTerminate);
        if (line.waitForClient) {
            diagnostics.line("swboot-sim: board state in " + options.stateDir.string() +
                             (consoleNoWait ? "; the board is on" : "; the board powers on when a program connects to the console") +
                             "; Ctrl-C here quits");
            if (!consoleNoWait && !line.waitForClient(board.terminationFlag())) {
                g_termination = nullptr;
                diagnostics.line("board: power off (terminated before a program connected)");
                return sim::EXIT_TERMINATED;
            }
        }
        int status = board.run();
        g_termination = nullptr;
        if (noisyLine != nullptr) {
            diagnostics.linef("line: the noise hit %llu bytes to the board and %llu from it",
                              static_cast<unsigned long long>(noisyLine->hitsToBoard()),
                              static_cast<unsigned long long>(noisyLine->hitsFromBoard()));
        }
        if (script != nullptr) {
            return script->finish(status);
        }
        return status;
    } catch (const std::exception& e) {
        std::cerr << "swboot-sim: " << e.what() << "\n";
        return 1;
    }
}
