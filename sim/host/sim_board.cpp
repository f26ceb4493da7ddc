#include "host/sim_board.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "board/board_events.h"
#include "boot_code.h"
#include "host/data_files.h"
#include "host/exception_stage.h"
#include "host/memory_volume_store.h"
#include "host/rtc_state.h"
#include "hw/core_info.h"
#include "loader.h"

namespace sim {

namespace {

// The factory's own boot code, programmed before anything else.
constexpr uint32_t FACTORY_BOOT_CODE_SEED = 0xFAC70001;

std::unique_ptr<FlashArray> makeFlash(const BoardOptions& options) {
    return flashArrayOpen(options.flashInMemory ? std::filesystem::path() : options.stateDir / "flash.bin");
}

constexpr const char* RTC_STATE_FILE = "rtc.toml";

Ds1340::State rtcStateOf(const BoardOptions& options) {
    if (auto kept = rtcStateLoad(options.stateDir / RTC_STATE_FILE)) {
        return *kept;
    }
    return I2cDevices::newRtcState(options.profile.i2c);
}

// The boot code a new board's flash gets: the loader built as firmware
// where it was built (so that either loader runs on the board), otherwise
// the factory's stand-in.
std::vector<uint8_t> newBoardBootCode() {
    if (const auto built = shippedDataFile("bootcode.bin")) {
        std::ifstream in(*built, std::ios::binary);
        std::vector<uint8_t> code((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (code.size() == swboot::tool::BOOT_CODE_REGION_SIZE) {
            return code;
        }
    }
    return swboot::tool::bootCodeBuild(FACTORY_BOOT_CODE_SEED);
}

}  // namespace

std::unique_ptr<FlashArray> flashArrayOpen(const std::filesystem::path& file) {
    auto cells = file.empty() ? std::make_unique<FlashArray>() : std::make_unique<FlashArray>(file);
    if (file.empty() || cells->created()) {
        // Boards in memory (tests) keep the factory's stand-in: their
        // results must not depend on whether the firmware was built.
        const std::vector<uint8_t> code =
            file.empty() ? swboot::tool::bootCodeBuild(FACTORY_BOOT_CODE_SEED) : newBoardBootCode();
        cells->program(swboot::tool::BOOT_CODE_REGION_BASE - FlashArray::BASE, code);
    }
    return cells;
}

std::string noStartRemedy(StrataFlash& flash) {
    const std::vector<uint8_t> standIn = swboot::tool::bootCodeBuild(FACTORY_BOOT_CODE_SEED);
    const std::span<const uint8_t> region =
        flash.cells().view(swboot::tool::BOOT_CODE_REGION_BASE - FlashArray::BASE, swboot::tool::BOOT_CODE_REGION_SIZE);
    if (std::equal(region.begin(), region.end(), standIn.begin(), standIn.end())) {
        // A board made before the firmware was built, or by a test.
        return "the boot flash holds the factory's stand-in boot code, which only the native loader passes over: "
               "swboot-sim flash-boot --state DIR writes the loader built as firmware";
    }
    return "swboot-sim flash-boot --state DIR FILE writes boot code as a probe would";
}

std::string flashResetProblem(StrataFlash& flash) {
    std::string problem = E500Core::resetVectorProblem(flash.read(E500Core::RESET_VECTOR - StrataFlash::BASE, 4));
    if (!problem.empty()) {
        return problem;
    }
    // The vector leads into the region's code, which runs only if every
    // block of it was left whole by whatever wrote it last: a block erased,
    // or erased and then programmed only in part, is a boot code update or
    // a probe cut short, whatever the reset vector still holds.
    constexpr uint32_t FIRST_UNIT = (swboot::tool::BOOT_CODE_REGION_BASE - StrataFlash::BASE) / StrataFlash::UNIT_SIZE;
    constexpr uint32_t UNITS = swboot::tool::BOOT_CODE_REGION_SIZE / StrataFlash::UNIT_SIZE;
    for (uint32_t unit = FIRST_UNIT; unit < FIRST_UNIT + UNITS; ++unit) {
        for (unsigned device = 0; device < StrataFlash::DEVICES; ++device) {
            if (flash.blockTorn(device, unit)) {
                char text[200];
                std::snprintf(text, sizeof text,
                              "the boot code region is not one whole boot code: its block at 0x%08x (device %u) "
                              "was erased and has not been programmed whole since",
                              StrataFlash::BASE + unit * StrataFlash::UNIT_SIZE, device);
                return text;
            }
        }
    }
    return {};
}

SimBoard::SimBoard(BoardOptions options, SimClock& clock, SerialLine& line, Diagnostics& diagnostics)
    : options_(std::move(options)),
      clock_(clock),
      paced_(options_.linePaced ? std::make_unique<PacedLine>(line, clock) : nullptr),
      line_(paced_ ? *paced_ : line),
      diagnostics_(diagnostics),
      stateLock_(options_.stateLock ? options_.stateLock
                                    : (std::filesystem::create_directories(options_.stateDir),
                                       std::make_shared<StateLock>(options_.stateDir))),
      cells_(makeFlash(options_)),
      flash_(std::make_unique<StrataFlash>(*cells_, options_.profile.flash, [this] { return clock_.nowMicros(); })),
      cpld_(options_.profile.cpld),
      uart_(line_),
      i2c_(options_.profile.i2c, [this] { return cpld_.read(Cpld::REG_I2C_MUX); },
           [this] { return clock_.worldMicros(); }, rtcStateOf(options_)),
      sensorFile_(options_.stateDir / SENSOR_FILE, i2c_, diagnostics),
      pci_(options_.profile.pci),
      core_(options_.profile.cpu),
      ccsr_(options_.profile.soc),
      pciController_(pci_),
      memoryMap_(ram_, cpld_, *flash_, ccsr_, uart_, i2c_.controller()),
      heap_(ram_),
      volume_(options_.volumeInMemory
                  ? std::make_unique<HostVolume>(*cells_, std::make_unique<MemoryVolumeStore>(), clock)
                  : std::make_unique<HostVolume>(*cells_, options_.stateDir / "volume", clock)),
      tty_(uart_, clock),
      platform_{tty_, clock_, tasks_, *volume_, *volume_, memoryMap_, core_, pci_, heap_} {
    // Files put into the volume by hand that take more than it holds: the
    // loader would find a volume it cannot write to, so the board refuses
    // to start and changes nothing.
    if (const std::string problem = volume_->capacityProblem(); !problem.empty()) {
        throw std::runtime_error(problem);
    }
    volume_->setTransferHook([this] { ram_.holdStuckBits(); });
    cells_->setPowerCut(&powerCut_);
    volume_->setPowerCut(&powerCut_);
    powerCut_.armAfter(options_.powerCutAfter, options_.powerCutSeed);
    cpld_.setClock([this] { return clock_.nowMicros(); });
    rebootRequest_.setClock([this] { return clock_.nowMicros(); });
    memoryMap_.attach(rebootRequest_);
    memoryMap_.attach(pciController_);
    ram_.setFaults(options_.profile.ramFaults);
    flash_->setTimed(!clock_.isVirtual());
    if (!options_.flashInMemory) {
        flash_->setBlockStateFile(options_.stateDir / FLASH_BLOCKS_FILE);
    }
    if (options_.traceFlash) {
        flash_->setTrace([this](const std::string& text) { diagnostics_.line(text); });
    }
    if (options_.traceCpld) {
        cpld_.setTrace([this](const std::string& text) { diagnostics_.line(text); });
    }
    if (options_.traceI2c) {
        i2c_.controller().setTrace([this](const std::string& text) {
            char prefix[32];
            std::snprintf(prefix, sizeof prefix, "i2c %9.3f: ", static_cast<double>(clock_.nowMicros()) / 1e6);
            diagnostics_.line(prefix + text);
        });
    }
    i2c_.controller().setStartHook([this] { sensorFile_.refresh(); });
    if (Ds1340* rtc = i2c_.rtc()) {
        rtc->setChangeHandler([this](const Ds1340::State& state) {
            if (!rtcStateSave(options_.stateDir / RTC_STATE_FILE, state)) {
                diagnostics_.line("rtc: cannot keep the clock's time in " + options_.stateDir.string());
            }
        });
    }
    core_.setHandoverHandler([this](const E500Core::Handover& record) { return handover(record); });
    core_.setHaltHandler([this] { halted(); });
    volumePrinter_ = [this](std::string_view text) {
        tty_.write(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    };
    volume_->setPrinter(volumePrinter_);
    if (options_.loader == LoaderKind::Firmware) {
        // The firmware's file calls reach the same volume through the
        // service's mailbox; the volume's own text goes where the request
        // says while a request runs.
        volumeService_ = std::make_unique<VolumeService>(ram_, *volume_, *volume_, [this](VolumeService::Printer p) {
            VolumeService::Printer previous = volumePrinter_;
            volumePrinter_ = std::move(p);
            volume_->setPrinter(volumePrinter_);
            return previous;
        });
        memoryMap_.attach(*volumeService_);
    }
    tty_.setPollHook([this] { pollTermination(); });
    tty_.setRawModeHook([this](bool raw) { rawModeChanged(raw); });
    if (volumeService_) {
        // The firmware's own console driver says when it goes raw; the line
        // hears it as it hears the native driver's.
        volumeService_->setRawModeHook([this](bool raw) {
            uart_.rawModeChanged(raw);
            rawModeChanged(raw);
        });
    }
    clock_.setSleeper([this](int64_t deadline) { tty_.idleUntil(deadline); });
}

SimBoard::~SimBoard() { clock_.setSleeper(nullptr); }

void SimBoard::pollTermination() {
    const int64_t now = clock_.nowMicros();
    rebootRequest_.check(now);
    if (options_.machineCheckAtMicros >= 0 && !machineCheckInjected_ && now >= options_.machineCheckAtMicros) {
        machineCheckInjected_ = true;
        char cause[96];
        std::snprintf(cause, sizeof cause, "injected at %.3f s (--fault machine-check)",
                      static_cast<double>(now) / 1e6);
        throw BoardMachineCheck{cause, true};
    }
    if (!terminationRequested_.exchange(false)) {
        return;
    }
    // The loader's handler (a transfer in progress) restores its console
    // first; then the simulator stops, as the host asked.
    tasks_.deliverTermination();
    throw BoardPowerOff{"terminated by the host (SIGTERM)", EXIT_TERMINATED};
}

void SimBoard::rawModeChanged(bool raw) {
    if (!paced_) {
        return;
    }
    if (raw) {
        paced_->meterStart();
    } else {
        reportTransfer(paced_->meterStop());
    }
}

void SimBoard::reportTransfer(const PacedLine::Meter& meter) {
    if (meter.received == 0 && meter.sent == 0) {
        return;
    }
    diagnostics_.linef("line: transfer of %llu bytes in, %llu out took %.1f s; %s from the first byte to the last "
                       "%.1f s, %.1f%% of the line rate at %u baud",
                       static_cast<unsigned long long>(meter.received), static_cast<unsigned long long>(meter.sent),
                       meter.seconds(), meter.mostlyReceived() ? "receiving" : "sending", meter.busiestSeconds(),
                       meter.lineShare() * 100, meter.speed);
}

void SimBoard::powerUp() {
    clock_.powerUp();
    cpld_.powerUp();
    rebootRequest_.powerUp();
    uart_.powerUp();
    flash_->powerUp();
    i2c_.controller().powerUp();
    core_.powerUp();
    ccsr_.powerUp();
    pciController_.powerUp();
    excMsgAreaClear(memoryMap_);
    heap_.powerUp();
    tasks_.powerUp();
    volume_->powerUp();
    if (paced_) {
        paced_->powerUp();
    }
    tty_.powerUp();
    if (volumeService_) {
        volumeService_->powerUp();
    }
}

int SimBoard::run() {
    for (;;) {
        if (options_.maxPowerOns > 0 && powerOns_ >= options_.maxPowerOns) {
            diagnostics_.linef("board: stopped after %d power-ons", powerOns_);
            return EXIT_TOO_MANY_RESETS;
        }
        powerUp();
        ++powerOns_;
        const std::string bricked =
            options_.loader == LoaderKind::Firmware ? std::string() : flashResetProblem(*flash_);
        if (!bricked.empty()) {
            diagnostics_.line("board: will not start: " + bricked +
                              " (swboot-sim flash-boot --state DIR FILE writes boot code as a probe would)");
            if (!line_.interactive()) {
                return EXIT_BRICKED;
            }
        }
        try {
            if (!bricked.empty()) {
                idleForever("nothing runs; quit with Ctrl-A x");
            }
            if (options_.loader == LoaderKind::Firmware) {
                return firmwareRun();
            }
            swboot::Loader loader(platform_);
            try {
                loader.bootMain();
            } catch (const BoardMachineCheck& check) {
                machineCheck(check);
            }
            diagnostics_.line("board: the loader returned; powering off");
            return 0;
        } catch (const BoardPowerCut& cut) {
            lastResetCause_ = cut.cause;
            diagnostics_.line("board: " + cut.cause + "; powering up again from what is stored");
        } catch (const BoardReset& reset) {
            lastResetCause_ = reset.cause;
            diagnostics_.line("board: reset (" + reset.cause + ")");
        } catch (const BoardMachineCheck& check) {
            // Only when no loader runs to take it.
            lastResetCause_ = "machine check: " + check.cause;
            diagnostics_.line("board: machine check: " + check.cause + "; the board reboots");
        } catch (const BoardPowerOff& off) {
            diagnostics_.line("board: power off (" + off.cause + ")");
            return off.exitStatus;
        }
    }
}

void SimBoard::machineCheck(const BoardMachineCheck& check) {
    diagnostics_.line("board: machine check: " + check.cause + "; the loader's handler takes it");
    ExceptionStage stage = machineCheckStage(memoryMap_, check.cause, core_.msrGet());
    core_.setFrame(stage.pc, stage.sp);
    try {
        core_.takeMachineCheck();
    } catch (const BoardMachineCheck& second) {
        // With machine checks disabled in the handler the core stops; the
        // board's supervision resets it.
        throw BoardReset{"checkstop: machine check inside the machine-check handler (" + second.cause + ")"};
    }
}

void SimBoard::handoverRecord(const E500Core::Handover& record, bool knowsHid0) {
    ram_.holdStuckBits();  // the code is taken as the cells hold it
    if (knowsHid0) {
        diagnostics_.linef("handover: entry=0x%08x mode=%u msr=0x%08x hid0=0x%08x", record.entry, record.startMode,
                           record.msr, record.hid0);
    } else {
        diagnostics_.linef("handover: entry=0x%08x mode=%u msr=0x%08x", record.entry, record.startMode, record.msr);
    }
    for (const MemoryDump& dump : options_.dumps) {
        std::span<uint8_t> bytes = ram_.view(dump.address, dump.length);
        if (bytes.empty() && dump.length != 0) {
            diagnostics_.linef("dump: 0x%08x+0x%x is not in RAM; %s not written", dump.address, dump.length,
                               dump.file.c_str());
            continue;
        }
        std::ofstream out(dump.file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            diagnostics_.linef("dump: cannot write %s", dump.file.c_str());
        } else {
            diagnostics_.linef("dump: 0x%08x+0x%x written to %s", dump.address, dump.length, dump.file.c_str());
        }
    }
}

int SimBoard::handover(const E500Core::Handover& record) {
    handoverRecord(record, true);
    switch (options_.onHandover) {
        case OnHandover::Run:
            return runCode(record);
        case OnHandover::Exit:
            throw BoardPowerOff{"operational code started", 0};
        case OnHandover::Return:
            return static_cast<int>(record.startMode);
        case OnHandover::Wait:
            break;
    }
    idleForever("the operational code owns the board");
}

int SimBoard::runCode(const E500Core::Handover& record) {
    if (!E500Emulator::available()) {
        diagnostics_.line("core: this simulator was built without the emulated core (libunicorn-dev); "
                          "the board waits instead");
        idleForever("the operational code owns the board");
    }
    E500Emulator core(memoryMap_, Ram::SIZE);
    codeTimeRemainder_ = 0;
    core.setTimeHook([this](uint64_t instructions, int64_t idleMicros) { return coreTime(instructions, idleMicros); });
    core.setSliceHook([this](uint64_t) {
        pollTermination();
        // The operator's keys reach the board even while the code ignores
        // the console.
        uart_.takeFromLine();
    });
    uart_.setEmptyPollHook([this](unsigned emptyPolls) { codeWaitsForInput(emptyPolls); });
    struct Unhook {
        Uart16550& uart;
        ~Unhook() { uart.setEmptyPollHook(nullptr); }
    } unhook{uart_};

    E500Emulator::Entry entry;
    entry.address = record.entry;
    entry.argument = record.startMode;
    entry.msr = record.msr;
    entry.hid0 = record.hid0;
    entry.stackPointer = CODE_STACK_POINTER;
    entry.returnAddress = CODE_RETURN_ADDRESS;
    E500Emulator::Stop stop = core.run(entry);
    coreStopReport(stop);
    if (stop.kind == E500Emulator::StopKind::Returned) {
        return static_cast<int>(stop.result);
    }
    if (!line_.interactive()) {
        throw BoardPowerOff{"the emulated core stopped", EXIT_CORE_STOPPED};
    }
    idleForever("the emulated core stopped; reset the board (Ctrl-A r) or quit (Ctrl-A x)");
}

void SimBoard::coreStopReport(const E500Emulator::Stop& stop) {
    const std::string report = E500Emulator::describe(stop);
    for (size_t start = 0; start < report.size();) {
        size_t end = report.find('\n', start);
        diagnostics_.line(report.substr(start, end - start));
        start = end == std::string::npos ? report.size() : end + 1;
    }
}

int64_t SimBoard::coreTime(uint64_t instructions, int64_t idleMicros) {
    if (uart_.emptyPollsEver() != uartPollsSeen_) {
        // Code that polls the console for input while it watches the time
        // waits for the line, which lets time pass as the line goes (a
        // program on the other end works in real time).
        uartPollsSeen_ = uart_.emptyPollsEver();
        idleMicros = 0;
    }
    if (clock_.isVirtual()) {
        // Board time runs at the core's nominal speed, and jumps where the
        // core idles on its time base.
        int64_t total = codeTimeRemainder_ + static_cast<int64_t>(instructions);
        clock_.passUntil(clock_.nowMicros() + total / E500Emulator::INSTRUCTIONS_PER_MICROSECOND + idleMicros);
        codeTimeRemainder_ = total % E500Emulator::INSTRUCTIONS_PER_MICROSECOND;
    } else if (idleMicros > 0) {
        // Real time passes by itself; an idling core need not burn the
        // host's processor meanwhile.
        clock_.passUntil(clock_.nowMicros() + idleMicros);
    }
    if (idleMicros > 0) {
        // The UART's receiver fills while the core idles, however few
        // instructions the wait takes.
        uart_.takeFromLine();
    }
    return clock_.nowMicros();
}

namespace {

// The firmware's run ends here when the hand-over asks the board to wait.
struct HandoverWait {};

}  // namespace

int SimBoard::firmwareRun() {
    if (!E500Emulator::available()) {
        throw std::runtime_error("the loader built as firmware runs on the emulated core, and this simulator was "
                                 "built without it (install libunicorn-dev and rebuild)");
    }
    const Mpc85xxCcsr::Values& straps = ccsr_.values();
    const uint64_t timeBaseHz =
        static_cast<uint64_t>(swboot::SYS_CLOCK_IN_HZ) * straps.platformRatio / E500Timers::PLATFORM_CLOCKS_PER_COUNT;
    E500Emulator core(memoryMap_, Ram::SIZE, timeBaseHz);
    core.setBootFlash(flash_.get());
    // The L1 caches' configuration and control as the board's core has
    // them (the registers the loader shows and sets).
    core.setRegisterFile({[](int spr) {
                              return spr == swboot::SPR_L1CFG0 || spr == swboot::SPR_L1CFG1 ||
                                     spr == swboot::SPR_L1CSR0 || spr == swboot::SPR_L1CSR1;
                          },
                          [this](int spr) { return core_.sprRead(spr); },
                          [this](int spr, uint32_t value) { core_.sprWrite(spr, value); }});
    codeTimeRemainder_ = 0;
    bool silenceReported = false;
    core.setTimeHook([this](uint64_t instructions, int64_t idleMicros) { return coreTime(instructions, idleMicros); });
    core.setSliceHook([this, &silenceReported](uint64_t) {
        pollTermination();
        uart_.takeFromLine();
        if (!silenceReported && uart_.bytesSent() == 0 && clock_.nowMicros() > FIRMWARE_SILENCE_MICROS) {
            silenceReported = true;
            diagnostics_.linef("board: will not start: the core has run %lld s from its reset vector and said "
                               "nothing on the console (%s)",
                               static_cast<long long>(FIRMWARE_SILENCE_MICROS / 1000000),
                               noStartRemedy(*flash_).c_str());
            if (!line_.interactive()) {
                throw BoardPowerOff{"the board did not reach its loader", EXIT_BRICKED};
            }
        }
    });
    uart_.setEmptyPollHook([this](unsigned emptyPolls) { codeWaitsForInput(emptyPolls); });
    struct Unhook {
        Uart16550& uart;
        ~Unhook() { uart.setEmptyPollHook(nullptr); }
    } unhook{uart_};
    core.setHandoverWatch(FIRMWARE_RAM_BASE, FIRMWARE_RAM_SIZE, [this](const E500Emulator::Registers& r) {
        E500Core::Handover record;
        record.entry = r.pc;
        record.startMode = r.gpr[3];
        record.msr = r.msr;
        handoverRecord(record, false);
        switch (options_.onHandover) {
            case OnHandover::Exit:
                throw BoardPowerOff{"operational code started", 0};
            case OnHandover::Wait:
                throw HandoverWait{};
            case OnHandover::Run:
            case OnHandover::Return:  // the firmware's call cannot be cut short: the code runs
                break;
        }
    });
    E500Emulator::Stop stop;
    try {
        stop = core.powerOn();
    } catch (const HandoverWait&) {
        idleForever("the operational code owns the board");
    }
    coreStopReport(stop);
    const bool reachedLoader = uart_.bytesSent() > 0;
    if (!reachedLoader) {
        diagnostics_.line("board: will not start: the core stopped before it said anything on the console (" +
                          noStartRemedy(*flash_) + ")");
    }
    if (!line_.interactive()) {
        throw BoardPowerOff{"the emulated core stopped", reachedLoader ? EXIT_CORE_STOPPED : EXIT_BRICKED};
    }
    idleForever("the emulated core stopped; reset the board (Ctrl-A r) or quit (Ctrl-A x)");
}

void SimBoard::codeWaitsForInput(unsigned emptyPolls) {
    // A few empty polls are code checking for a key in passing; many in a
    // row are code waiting for one.
    constexpr unsigned WAITING_POLLS = 64;
    constexpr int64_t WAIT_MICROS = 10000;
    // On virtual time a program on the line (a transfer peer) is waited
    // for in real time and the wait is counted as board time up to its
    // deadline: a deadline as long as the line's own wait keeps board
    // time with the program's.
    constexpr int64_t VIRTUAL_WAIT_MICROS = 50000;
    if (emptyPolls < WAITING_POLLS) {
        return;
    }

    if (uart_.endOfInput()) {
        throw BoardPowerOff{"end of console input", 0};
    }
    pollTermination();
    line_.waitInput(clock_.nowMicros() + (clock_.isVirtual() ? VIRTUAL_WAIT_MICROS : WAIT_MICROS), true);
}

void SimBoard::halted() {
    if (!line_.interactive()) {
        throw BoardPowerOff{"the loader halted", EXIT_HALTED};
    }
    idleForever("the loader halted; reset the board (Ctrl-A r) or quit (Ctrl-A x)");
}

void SimBoard::idleForever(const char* why) {
    diagnostics_.line(std::string("board: ") + why);
    uint8_t discard[256];
    for (;;) {
        pollTermination();
        long n = line_.receive(discard, sizeof discard);
        if (n < 0) {
            throw BoardPowerOff{"end of console input", 0};
        }
        if (n == 0) {
            line_.waitInput(clock_.nowMicros() + 1000000, true);
            if (clock_.isVirtual()) {
                // Nothing will ever happen on a scripted line that has
                // nothing more to say.
                long left = line_.receive(discard, sizeof discard);
                if (left < 0) {
                    throw BoardPowerOff{"end of console input", 0};
                }
            }
        }
    }
}

}  // namespace sim
