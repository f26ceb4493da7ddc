// A whole simulated board: the devices of sim/board, the host services of
// sim/host, and the loader running on them. The board is composed here and
// only here; the loader gets it as one swboot::Platform.
//
// run() powers the board on and runs the loader; resets (the CPLD's reset
// request, the reboot request, the operator's reset key) power it on again
// with flash and volume kept, until the board is powered off. A machine
// check goes to the loader's handler, which reports it and resets the board.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "board/board_events.h"
#include "board/board_profile.h"
#include "board/cpld.h"
#include "board/e500_emulator.h"
#include "board/e500_core.h"
#include "board/flash_array.h"
#include "board/i2c_devices.h"
#include "host/sensor_file.h"
#include "board/memory_map.h"
#include "board/mpc85xx_ccsr.h"
#include "board/strataflash.h"
#include "board/mpc85xx_pci.h"
#include "board/volume_service.h"
#include "board/pci_space.h"
#include "board/power_cut.h"
#include "board/ram.h"
#include "board/reboot_request.h"
#include "board/uart16550.h"
#include "host/console_tty.h"
#include "host/diagnostics.h"
#include "host/host_volume.h"
#include "host/paced_line.h"
#include "host/serial_line.h"
#include "host/sim_clock.h"
#include "host/sim_heap.h"
#include "host/sim_tasks.h"
#include "host/state_lock.h"
#include "platform/platform.h"

namespace sim {

enum class OnHandover {
    Run,     // the code runs on the emulated e500 core
    Wait,    // the code owns the board until the operator resets it
    Exit,    // power off after the report (exit status 0)
    Return,  // the call returns the start mode to the loader
};

// What runs on the board's core: the loader as a host program standing in
// for it (native), or the boot flash's contents on the emulated e500 from
// its reset vector (firmware).
enum class LoaderKind { Native, Firmware };

struct MemoryDump {
    uint32_t address = 0;
    uint32_t length = 0;
    std::filesystem::path file;
};

struct BoardOptions {
    std::filesystem::path stateDir;     // flash image and volume live here
    bool flashInMemory = false;         // tests: keep the flash array in memory
    bool volumeInMemory = false;        // fuzzing: keep the volume's files in memory
    BoardProfile profile = BoardProfile::builtin();
    OnHandover onHandover = OnHandover::Wait;
    LoaderKind loader = LoaderKind::Native;
    std::vector<MemoryDump> dumps;      // written at each hand-over
    bool traceCpld = false;
    bool traceFlash = false;            // every flash command on the diagnostics
    bool traceI2c = false;
    int maxPowerOns = 0;                // stop after this many power-ons (0: no limit)
    uint64_t powerCutAfter = 0;         // the power fails at this persistent step (0: never)
    uint64_t powerCutSeed = 0;          // makes the half-done step reproducible
    bool linePaced = false;             // the console line runs at the UART's speed
    int64_t machineCheckAtMicros = -1;  // a machine check once at this board time (-1: never)
    // The lock of stateDir when the caller took it already (the simulator
    // program does, before it writes the profile there); otherwise the
    // board takes it, and a second board on the same directory is refused.
    std::shared_ptr<StateLock> stateLock;
};

// Exit status of run() when the loader halted on a non-interactive console.
inline constexpr int EXIT_HALTED = 3;
// Exit status when the host terminated the simulator (SIGTERM).
inline constexpr int EXIT_TERMINATED = 143;
// Exit status when maxPowerOns was reached.
inline constexpr int EXIT_TOO_MANY_RESETS = 4;
// Exit status when the emulated core stopped (bus error, illegal
// instruction, exception) on a non-interactive console.
inline constexpr int EXIT_CORE_STOPPED = 5;

// Where the started code finds its stack: just below the staging area.
inline constexpr uint32_t CODE_STACK_POINTER = 0x01FFFFF0;
// The return address of the call into the code: in the loader's boot code
// region. Reaching it returns to the loader.
inline constexpr uint32_t CODE_RETURN_ADDRESS = 0xFFF80000;

// Exit status when the boot flash holds nothing the core can start, on a
// non-interactive console.
inline constexpr int EXIT_BRICKED = 6;

// Where the loader built as firmware runs from: the top megabyte of RAM,
// which its start-up copies it to. The code it starts runs below.
inline constexpr uint32_t FIRMWARE_RAM_BASE = 0x0FF00000;
inline constexpr uint32_t FIRMWARE_RAM_SIZE = 0x00100000;
// Board time after power-on within which the firmware must have said
// something on the console; a core that runs longer in silence did not
// reach a loader.
inline constexpr int64_t FIRMWARE_SILENCE_MICROS = 10000000;

// The block state (lock bits, erase counts) beside flash.bin.
inline constexpr const char* FLASH_BLOCKS_FILE = "flash-blocks.txt";

// The flash array of a state directory, made with the factory's boot code
// in its boot code region when it is new; in memory when no file is named.
std::unique_ptr<FlashArray> flashArrayOpen(const std::filesystem::path& file);
// Why the board's core cannot start from this flash (no branch at the reset
// vector, or a block of the boot code region torn: erased and not programmed
// whole since), or an empty text.
std::string flashResetProblem(StrataFlash& flash);
// What brings back a board whose core does not reach its loader, for the
// report that says so.
std::string noStartRemedy(StrataFlash& flash);

class SimBoard {
public:
    SimBoard(BoardOptions options, SimClock& clock, SerialLine& line, Diagnostics& diagnostics);
    ~SimBoard();
    SimBoard(const SimBoard&) = delete;
    SimBoard& operator=(const SimBoard&) = delete;

    // Runs until power-off; the exit status for the simulator.
    int run();
    // Every device as at switch-on (the stored data stays): what run() does
    // before each start, for harnesses that run the loader themselves.
    void powerUp();

    // The processor takes a machine check: the operating system's exception
    // handling stages the message and the stack, and the loader's handler
    // runs. Ends in a board event: the reset the handler asks for, or a
    // checkstop (a reset) when a second machine check comes inside it.
    [[noreturn]] void machineCheck(const BoardMachineCheck& check);

    // Asks for termination (from a signal handler: only sets a flag).
    void requestTermination() { terminationRequested_.store(true); }
    std::atomic<bool>& terminationFlag() { return terminationRequested_; }

    // Control faces, for the simulator program and for tests.
    const BoardOptions& options() const { return options_; }
    SimClock& clock() { return clock_; }
    Cpld& cpld() { return cpld_; }
    RebootRequest& rebootRequest() { return rebootRequest_; }
    Uart16550& uart() { return uart_; }
    E500Core& core() { return core_; }
    Ram& ram() { return ram_; }
    FlashArray& flashCells() { return *cells_; }
    StrataFlash& flash() { return *flash_; }
    HostVolume& volume() { return *volume_; }
    ConsoleTty& tty() { return tty_; }
    // The paced line, or null when the line is not paced.
    PacedLine* pacedLine() { return paced_.get(); }
    SimHeap& heap() { return heap_; }
    SimTasks& tasks() { return tasks_; }
    PciSpace& pci() { return pci_; }
    I2cDevices& i2c() { return i2c_; }
    PowerCut& powerCut() { return powerCut_; }
    Mpc85xxCcsr& ccsr() { return ccsr_; }
    Diagnostics& diagnostics() { return diagnostics_; }
    const swboot::Platform& platform() const { return platform_; }
    int powerOnCount() const { return powerOns_; }
    const std::string& lastResetCause() const { return lastResetCause_; }

private:
    int handover(const E500Core::Handover& record);
    // Prints the hand-over and writes the memory dumps asked for.
    void handoverRecord(const E500Core::Handover& record, bool knowsHid0);
    // Powers the emulated core on at its reset vector; returns the exit
    // status, or throws the board event that ended the run.
    int firmwareRun();
    // The emulated core's stop report, a diagnostics line each.
    void coreStopReport(const E500Emulator::Stop& stop);
    // Board time for the emulated core (see E500Emulator::TimeHook).
    int64_t coreTime(uint64_t instructions, int64_t idleMicros);
    // Runs the started code on the emulated core; its result when it
    // returns.
    int runCode(const E500Core::Handover& record);
    // The running code polls the console UART and finds nothing.
    void codeWaitsForInput(unsigned emptyPolls);
    [[noreturn]] void halted();
    // Serves the line while nothing runs on the board (after a halt or a
    // hand-over): input goes nowhere, the operator's keys still work.
    [[noreturn]] void idleForever(const char* why);
    // Board events that come with time or from the host: termination, a
    // due reboot request, the injected machine check.
    void pollTermination();
    // The console driver entered (true) or left raw mode: a paced line
    // meters the transfer and reports it at the end.
    void rawModeChanged(bool raw);
    void reportTransfer(const PacedLine::Meter& meter);

    BoardOptions options_;
    PowerCut powerCut_;
    SimClock& clock_;
    std::unique_ptr<PacedLine> paced_;  // between the line and the driver, when paced
    SerialLine& line_;                  // the line as the driver sees it
    Diagnostics& diagnostics_;
    std::shared_ptr<StateLock> stateLock_;  // taken before anything of the state is read
    Ram ram_;
    std::unique_ptr<FlashArray> cells_;
    std::unique_ptr<StrataFlash> flash_;
    Cpld cpld_;
    RebootRequest rebootRequest_;
    Uart16550 uart_;
    I2cDevices i2c_;
    SensorFile sensorFile_;
    PciSpace pci_;
    E500Core core_;
    Mpc85xxCcsr ccsr_;
    Mpc85xxPci pciController_;
    MemoryMap memoryMap_;
    SimHeap heap_;
    SimTasks tasks_;
    std::unique_ptr<HostVolume> volume_;
    VolumeService::Printer volumePrinter_;
    std::unique_ptr<VolumeService> volumeService_;  // firmware mode only
    ConsoleTty tty_;
    swboot::Platform platform_;
    std::atomic<bool> terminationRequested_{false};
    int powerOns_ = 0;
    int64_t codeTimeRemainder_ = 0;  // instructions not yet counted as board time
    uint64_t uartPollsSeen_ = 0;     // the UART's empty polls at the core's last look at the time
    std::string lastResetCause_;
    bool machineCheckInjected_ = false;
};

}  // namespace sim
