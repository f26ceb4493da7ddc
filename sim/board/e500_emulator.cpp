#include "board/e500_emulator.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

#include "board/board_events.h"

#ifdef SWBOOT_HAVE_UNICORN
#include <unicorn/unicorn.h>
#endif

namespace sim {

namespace {

// Instruction fields of the PowerPC encoding.
constexpr uint32_t PRIMARY_OPCODE_X_FORM = 31;
constexpr uint32_t EXTENDED_MFSPR = 339;
constexpr uint32_t EXTENDED_MTSPR = 467;
constexpr uint32_t EXTENDED_MFTB = 371;
constexpr uint32_t EXTENDED_TW = 4;
constexpr uint32_t PRIMARY_OPCODE_TWI = 3;
constexpr uint32_t INSN_RFI = 0x4C000064;
constexpr uint32_t INSN_RFCI = 0x4C000066;
constexpr uint32_t INSN_RFMCI = 0x4C00004C;
constexpr uint32_t INSN_SIZE = 4;

constexpr int SPR_HID0 = 1008;

// The engine maps memory in pages of this size.
constexpr uint32_t PAGE_SIZE = 0x1000;

// A loop that reads the time base with fewer instructions than this
// between two reads, this many times in a row, is idling on it: board time
// may jump ahead there, by a step that doubles up to the longest.
constexpr uint64_t IDLE_GAP_INSTRUCTIONS = 256;
constexpr unsigned IDLE_READS = 32;
constexpr int64_t IDLE_STEP_LONGEST_MICROS = 1000;
constexpr unsigned IDLE_STEP_DOUBLINGS = 10;

[[maybe_unused]] uint32_t loadWord(std::span<const uint8_t> ram, uint32_t address) {
    if (address > ram.size() || ram.size() - address < 4) {
        return 0;
    }
    return (uint32_t{ram[address]} << 24) | (uint32_t{ram[address + 1]} << 16) | (uint32_t{ram[address + 2]} << 8) |
           ram[address + 3];
}

// The special register an mfspr or mtspr names (its two halves swapped in
// the encoding).
[[maybe_unused]] int sprField(uint32_t word) {
    return static_cast<int>(((word >> 16) & 0x1F) | (((word >> 11) & 0x1F) << 5));
}
[[maybe_unused]] int registerField(uint32_t word) { return static_cast<int>((word >> 21) & 0x1F); }
[[maybe_unused]] uint32_t extendedOpcode(uint32_t word) { return (word >> 1) & 0x3FF; }

[[maybe_unused]] bool isTrap(uint32_t word) {
    return (word >> 26) == PRIMARY_OPCODE_TWI ||
           ((word >> 26) == PRIMARY_OPCODE_X_FORM && extendedOpcode(word) == EXTENDED_TW);
}

}  // namespace

std::string E500Emulator::describe(const Stop& stop) {
    std::string text;
    char line[160];
    switch (stop.kind) {
        case StopKind::Returned:
            std::snprintf(line, sizeof line, "core: the code returned 0x%08x to the loader\n", stop.result);
            return line;
        case StopKind::BusError:
            text = "core: stopped: " + stop.cause + "\n";
            break;
        case StopKind::IllegalInstruction:
            text = "core: stopped: illegal instruction (" + stop.cause + ")\n";
            break;
        case StopKind::Exception:
            text = "core: stopped: " + stop.cause + "\n";
            break;
    }
    std::snprintf(line, sizeof line, "core: instruction 0x%08x at 0x%08x\n", stop.instruction, stop.pc);
    text += line;
    const Registers& r = stop.registers;
    for (int row = 0; row < 32; row += 8) {
        std::snprintf(line, sizeof line, "core: r%-2d %08x %08x %08x %08x %08x %08x %08x %08x\n", row, r.gpr[row],
                      r.gpr[row + 1], r.gpr[row + 2], r.gpr[row + 3], r.gpr[row + 4], r.gpr[row + 5], r.gpr[row + 6],
                      r.gpr[row + 7]);
        text += line;
    }
    std::snprintf(line, sizeof line, "core: lr %08x ctr %08x cr %08x xer %08x msr %08x\n", r.lr, r.ctr, r.cr, r.xer,
                  r.msr);
    text += line;
    return text;
}

#ifdef SWBOOT_HAVE_UNICORN

struct E500Emulator::Engine {
    static constexpr uint32_t ALL_ADDRESSES_END = 0xFFFFFFFF;
    // The engine's numbers for what the core raised (its interrupt numbers,
    // and one for an instruction it does not decode).
    static constexpr uint32_t RAISED_ILLEGAL = 96;
    static constexpr uint32_t RAISED_MAX_VECTOR = 35;

    explicit Engine(E500Emulator& emulator) : owner(emulator) {}
    ~Engine() {
        if (uc) {
            uc_close(uc);
        }
    }

    // RAM the engine reads and writes directly: the cells behind it.
    struct CellWindow {
        uint32_t base = 0;
        std::span<uint8_t> cells;
    };
    // Addresses the engine hands to the bus, from base on.
    struct BusWindow {
        Engine* engine = nullptr;
        uint32_t base = 0;
    };
    // An interrupt the core takes before its next instruction.
    struct Pending {
        E500Interrupts::Kind kind = E500Interrupts::MACHINE_CHECK;
        uint32_t pc = 0;
        E500Interrupts::Syndrome syndrome;
        uint32_t at = 0;  // the instruction that raised it
        // How the core stops instead when the code set no vector for it.
        StopKind stopKind = StopKind::Exception;
        std::string cause;
    };
    // How the boot page is mapped: not at all (a call into code), as the
    // engine's memory (fetch from the flash's cells) or through the bus.
    enum class BootPage { Bus, Cells };

    E500Emulator& owner;
    uc_engine* uc = nullptr;
    std::vector<CellWindow> cellWindows;
    std::deque<BusWindow> busWindows;  // the engine keeps pointers to them
    size_t lastCellWindow = 0;
    uint64_t executed = 0;
    uint64_t sliceEnd = 0;
    uint64_t timeSettled = 0;   // instructions already given to the time hook
    uint64_t lastTimeBaseRead = 0;
    unsigned idleReads = 0;
    uint32_t lastPc = 0;
    bool counting = false;
    bool fromReset = false;
    bool watchArmed = false;
    BootPage bootPage = BootPage::Bus;
    std::optional<BootPage> bootPageWanted;  // remap before the next instruction
    std::optional<uint32_t> restartAt;
    std::optional<Pending> pending;
    std::exception_ptr pendingEvent;
    std::optional<Stop> stop;

    void halt(StopKind kind, std::string cause) {
        if (!stop && !pendingEvent) {
            Stop s;
            s.kind = kind;
            s.cause = std::move(cause);
            s.pc = lastPc;
            s.instruction = instructionAt(lastPc);
            stop = std::move(s);
        }
        uc_emu_stop(uc);
    }

    bool stopping() const { return stop.has_value() || pendingEvent != nullptr; }

    void raise(std::exception_ptr event) {
        if (!pendingEvent) {
            pendingEvent = std::move(event);
        }
        uc_emu_stop(uc);
    }

    // The word at an address the engine can fetch from; 0 elsewhere.
    uint32_t instructionAt(uint32_t address) {
        for (size_t n = 0; n < cellWindows.size(); ++n) {
            size_t i = (lastCellWindow + n) % cellWindows.size();
            const CellWindow& w = cellWindows[i];
            if (address >= w.base && address - w.base < w.cells.size()) {
                lastCellWindow = i;
                return loadWord(w.cells, address - w.base);
            }
        }
        return 0;
    }

    uint32_t gpr(int n) const {
        uint32_t value = 0;
        uc_reg_read(uc, UC_PPC_REG_0 + n, &value);
        return value;
    }
    void gprSet(int n, uint32_t value) { uc_reg_write(uc, UC_PPC_REG_0 + n, &value); }
    uint32_t msr() const {
        uint32_t value = 0;
        uc_reg_read(uc, UC_PPC_REG_MSR, &value);
        return value;
    }
    // Goes on at pc in machine state msr: from a hook, the engine leaves the
    // instruction it was about to run and starts again there.
    void jump(uint32_t pc, std::optional<uint32_t> newMsr = std::nullopt) {
        if (newMsr) {
            uc_reg_write(uc, UC_PPC_REG_MSR, &*newMsr);
        }
        uc_reg_write(uc, UC_PPC_REG_PC, &pc);
    }

    // Board time now, the instructions run so far counted in.
    int64_t boardMicros(int64_t idleMicros = 0) {
        const uint64_t ran = executed - timeSettled;
        timeSettled = executed;
        if (owner.timeHook_) {
            return owner.timeHook_(ran, idleMicros);
        }
        return static_cast<int64_t>(executed / INSTRUCTIONS_PER_MICROSECOND);
    }

    int64_t lastMicros = 0;  // board time at the last time base read

    // A time base read: a loop doing little else is idling on it.
    int64_t timeBaseReadMicros() {
        idleReads = executed - lastTimeBaseRead < IDLE_GAP_INSTRUCTIONS ? idleReads + 1 : 0;
        lastTimeBaseRead = executed;
        int64_t idle = 0;
        if (idleReads > IDLE_READS) {
            const unsigned doublings = std::min(idleReads - IDLE_READS, IDLE_STEP_DOUBLINGS);
            idle = std::min<int64_t>(int64_t{1} << doublings, IDLE_STEP_LONGEST_MICROS);
        }
        // Letting time pass serves the board meanwhile (its line, a
        // termination), which may end the run: the event waits until the
        // engine has stopped, as no exception may cross the engine.
        try {
            lastMicros = boardMicros(idle);
        } catch (...) {
            raise(std::current_exception());
        }
        return lastMicros;
    }

    // The core takes an interrupt now, before the instruction at pc (or
    // stops, when the code set no vector for it).
    void take(const Pending& p) {
        E500Interrupts& irq = owner.interrupts_;
        if (!irq.vectorReady(p.kind)) {
            lastPc = p.at;  // the report names the instruction that raised it
            halt(p.stopKind, p.cause);
            return;
        }
        const uint32_t state = msr();
        if (p.kind == E500Interrupts::MACHINE_CHECK && (state & E500Interrupts::MSR_ME) == 0) {
            raise(std::make_exception_ptr(
                BoardReset{"checkstop: machine check with machine checks disabled (" + p.cause + ")"}));
            return;
        }
        const E500Interrupts::Taken taken = irq.take(p.kind, p.pc, state, p.syndrome);
        jump(taken.pc, taken.msr);
    }

    // Runs mfspr, mtspr and mftb of the registers modelled here, and the
    // returns from interrupts; false for any other instruction.
    bool special(uint32_t pc, uint32_t word) {
        if (word == INSN_RFI || word == INSN_RFCI || word == INSN_RFMCI) {
            const auto from = word == INSN_RFI    ? E500Interrupts::Return::Base
                              : word == INSN_RFCI ? E500Interrupts::Return::Critical
                                                  : E500Interrupts::Return::MachineCheck;
            const E500Interrupts::Taken back = owner.interrupts_.returnFrom(from);
            ++executed;
            jump(back.pc, back.msr);
            return true;
        }
        if ((word >> 26) != PRIMARY_OPCODE_X_FORM) {
            return false;
        }
        const uint32_t extended = extendedOpcode(word);
        if (extended != EXTENDED_MFSPR && extended != EXTENDED_MTSPR && extended != EXTENDED_MFTB) {
            return false;
        }
        const int spr = sprField(word);
        const int reg = registerField(word);
        if (extended == EXTENDED_MTSPR && spr == SPR_HID0) {
            owner.timers_.hid0Written(gpr(reg), boardMicros());
            return false;  // the engine keeps HID0 too
        }
        const RegisterFile& file = owner.registerFile_;
        if (file.holds && file.holds(spr)) {
            try {
                if (extended == EXTENDED_MTSPR) {
                    file.write(spr, gpr(reg));
                } else {
                    gprSet(reg, file.read(spr));
                }
            } catch (...) {
                raise(std::current_exception());
                return true;
            }
            ++executed;
            jump(pc + INSN_SIZE);
            return true;
        }
        const bool timer = E500Timers::holds(spr);
        if (!timer && !E500Interrupts::holds(spr)) {
            return false;
        }
        bool done = false;
        if (extended == EXTENDED_MTSPR) {
            done = timer ? owner.timers_.write(spr, gpr(reg), boardMicros()) : owner.interrupts_.write(spr, gpr(reg));
        } else {
            const bool timeBase = spr == E500Timers::SPR_TBL_READ || spr == E500Timers::SPR_TBU_READ;
            std::optional<uint32_t> value =
                timer ? owner.timers_.read(spr, timeBase ? timeBaseReadMicros() : boardMicros())
                      : owner.interrupts_.read(spr);
            if (value) {
                gprSet(reg, *value);
                done = true;
            }
        }
        if (!done) {
            // A write-only register read or the other way round: an
            // instruction this core refuses.
            take({E500Interrupts::PROGRAM, pc, {.esr = E500Interrupts::ESR_PIL}, pc, StopKind::IllegalInstruction,
                  "special register access this core refuses"});
            return true;
        }
        ++executed;
        jump(pc + INSN_SIZE);
        return true;
    }

    static void onCode(uc_engine* engine, uint64_t address, uint32_t, void* user) {
        auto* self = static_cast<Engine*>(user);
        if (self->stopping()) {
            uc_emu_stop(engine);
            return;
        }
        const auto pc = static_cast<uint32_t>(address);
        self->lastPc = pc;
        if (self->counting && self->executed >= self->sliceEnd) {
            uc_emu_stop(engine);  // this instruction opens the next slice
            return;
        }
        if (self->pending) {
            Pending p = std::move(*self->pending);
            self->pending.reset();
            self->take(p);
            return;
        }
        if (self->bootPage == BootPage::Cells && (pc < BOOT_PAGE || self->bootPageWanted)) {
            // The code left the flash, or gave the flash a command: the
            // page goes back to the bus before this instruction runs.
            self->bootPageWanted = BootPage::Bus;
            self->restartAt = pc;
            uc_emu_stop(engine);
            return;
        }
        self->watch(pc);
        if (self->stopping() || self->special(pc, self->instructionAt(pc))) {
            return;
        }
        if (self->counting) {
            ++self->executed;
        }
    }

    void watch(uint32_t pc) {
        if (!owner.handoverHook_) {
            return;
        }
        if (pc >= owner.watchBase_ && pc - owner.watchBase_ < owner.watchSize_) {
            watchArmed = true;
        } else if (watchArmed && pc < owner.watchBase_) {
            watchArmed = false;
            try {
                owner.handoverHook_(registers());
            } catch (...) {
                raise(std::current_exception());
            }
        }
    }

    static void onInterrupt(uc_engine*, uint32_t number, void* user) {
        auto* self = static_cast<Engine*>(user);
        const uint32_t pc = self->lastPc;
        const uint32_t word = self->instructionAt(pc);
        Pending p;
        p.pc = pc;
        p.at = pc;
        switch (number) {
            case RAISED_ILLEGAL:
                p.kind = E500Interrupts::PROGRAM;
                p.syndrome.esr = E500Interrupts::ESR_PIL;
                p.stopKind = StopKind::IllegalInstruction;
                p.cause = "not an instruction of this core";
                break;
            case E500Interrupts::PROGRAM:
                p.kind = E500Interrupts::PROGRAM;
                p.syndrome.esr = isTrap(word) ? E500Interrupts::ESR_PTR : E500Interrupts::ESR_PPR;
                p.cause = "program exception (trap or privileged instruction)";
                break;
            case E500Interrupts::SYSTEM_CALL:
                p.kind = E500Interrupts::SYSTEM_CALL;
                p.pc = pc + INSN_SIZE;  // a system call returns after itself
                p.cause = "system call, and no operating system to take it";
                break;
            case E500Interrupts::SPE_UNAVAILABLE:
                p.kind = E500Interrupts::SPE_UNAVAILABLE;
                p.syndrome.esr = E500Interrupts::ESR_SPV;
                p.stopKind = StopKind::IllegalInstruction;
                p.cause = "SPE instruction while SPE is disabled in the MSR";
                break;
            default:
                if (number > RAISED_MAX_VECTOR) {
                    self->halt(StopKind::Exception, "the engine raised " + std::to_string(number));
                    return;
                }
                p.kind = static_cast<E500Interrupts::Kind>(number);
                p.cause = "exception " + std::to_string(number) + ", and no handler to take it";
                break;
        }
        self->take(p);
    }

    static bool onUnmapped(uc_engine*, uc_mem_type type, uint64_t address, int size, int64_t, void* user) {
        auto* self = static_cast<Engine*>(user);
        const auto at = static_cast<uint32_t>(address);
        char text[128];
        if (type == UC_MEM_WRITE_PROT && self->bootPage == BootPage::Cells && at >= BOOT_PAGE) {
            // A store into the flash page the code runs from: the flash
            // takes it as a command, through the bus.
            self->bootPageWanted = BootPage::Bus;
            self->restartAt = self->lastPc;
            uc_emu_stop(self->uc);
            return false;
        }
        if (type == UC_MEM_FETCH_UNMAPPED || type == UC_MEM_FETCH_PROT) {
            self->lastPc = at;
            if (self->fromReset && at >= BOOT_PAGE && self->bootPage == BootPage::Bus) {
                if (self->flashReadsArray()) {
                    self->bootPageWanted = BootPage::Cells;
                    self->restartAt = at;
                    uc_emu_stop(self->uc);
                    return false;
                }
                self->halt(StopKind::BusError, "instruction fetch from the boot flash while it answers a command, "
                                               "not its array");
                return false;
            }
            std::snprintf(text, sizeof text,
                          at < self->owner.ramSize_ ? "instruction fetch from 0x%08x, in RAM with faults"
                                                    : "instruction fetch from 0x%08x, which is not RAM",
                          at);
        } else {
            std::snprintf(text, sizeof text, "bus error: %d-bit %s at 0x%08x", size * 8,
                          type == UC_MEM_WRITE_UNMAPPED ? "write" : "read", at);
        }
        self->halt(StopKind::BusError, text);
        return false;
    }

    bool flashReadsArray() const {
        StrataFlash* flash = owner.bootFlash_;
        return flash != nullptr && flash->state(0) == StrataFlash::State::ReadArray &&
               flash->state(1) == StrataFlash::State::ReadArray;
    }

    // A machine check raised while the core accessed a device: a bus error
    // at that address, or the machine check input (the operator's key).
    void machineCheckFrom(const BoardMachineCheck& check, uint32_t address, bool write) {
        if (pending) {
            return;
        }
        Pending p;
        p.kind = E500Interrupts::MACHINE_CHECK;
        p.pc = lastPc;
        p.at = lastPc;
        p.stopKind = StopKind::BusError;
        p.cause = check.cause;
        if (check.pin) {
            p.syndrome.mcsr = E500Interrupts::MCSR_MCP;
        } else {
            p.syndrome.mcsr = write ? E500Interrupts::MCSR_BUS_WAERR : E500Interrupts::MCSR_BUS_RAERR;
            p.syndrome.mcar = address;
        }
        pending = std::move(p);
    }

    uint64_t deviceRead(uint32_t address, unsigned size) {
        if (stopping()) {
            return 0;
        }
        try {
            switch (size) {
                case 1:
                    return owner.bus_.read8(address);
                case 2:
                    return owner.bus_.read16(address);
                case 4:
                    return owner.bus_.read32(address);
                default:
                    throw BoardMachineCheck{"bus error: " + std::to_string(size * 8) + "-bit read at " + hex(address)};
            }
        } catch (const BoardMachineCheck& check) {
            machineCheckFrom(check, address, false);
        } catch (...) {
            raise(std::current_exception());
        }
        return 0;
    }

    void deviceWrite(uint32_t address, unsigned size, uint64_t value) {
        if (stopping()) {
            return;
        }
        if (bootPage == BootPage::Cells && address >= FlashArray::BASE) {
            bootPageWanted = BootPage::Bus;  // a flash command: the page may read otherwise now
        }
        try {
            switch (size) {
                case 1:
                    owner.bus_.write8(address, static_cast<uint8_t>(value));
                    return;
                case 2:
                    owner.bus_.write16(address, static_cast<uint16_t>(value));
                    return;
                case 4:
                    owner.bus_.write32(address, static_cast<uint32_t>(value));
                    return;
                default:
                    throw BoardMachineCheck{"bus error: " + std::to_string(size * 8) + "-bit write at " + hex(address)};
            }
        } catch (const BoardMachineCheck& check) {
            machineCheckFrom(check, address, true);
        } catch (...) {
            raise(std::current_exception());
        }
    }

    static std::string hex(uint32_t value) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08x", value);
        return text;
    }

    static uint64_t onDeviceRead(uc_engine*, uint64_t offset, unsigned size, void* user) {
        auto* window = static_cast<BusWindow*>(user);
        return window->engine->deviceRead(window->base + static_cast<uint32_t>(offset), size);
    }

    static void onDeviceWrite(uc_engine*, uint64_t offset, unsigned size, uint64_t value, void* user) {
        auto* window = static_cast<BusWindow*>(user);
        window->engine->deviceWrite(window->base + static_cast<uint32_t>(offset), size, value);
    }

    void mapBus(uint32_t base, uint64_t length) {
        BusWindow& window = busWindows.emplace_back(BusWindow{this, base});
        check(uc_mmio_map(uc, base, length, onDeviceRead, &window, onDeviceWrite, &window), "map devices");
    }

    // RAM is the engine's memory wherever the bus gives a view of its cells,
    // which it does for all of it unless the board profile put faults in.
    // Around a fault, down to single pages, loads and stores go through the
    // bus, where the faults act; the code cannot run from such a page.
    void mapRam(uint32_t base, uint64_t length) {
        std::span<uint8_t> cells = owner.bus_.plainRamView(base, length);
        if (!cells.empty()) {
            check(uc_mem_map_ptr(uc, base, length, UC_PROT_ALL, cells.data()), "map RAM");
            cellWindows.push_back({base, cells});
        } else if (length <= PAGE_SIZE) {
            mapBus(base, length);
        } else {
            mapRam(base, length / 2);
            mapRam(static_cast<uint32_t>(base + length / 2), length / 2);
        }
    }

    // The boot page as the flash's cells (read and fetch only: a store is
    // a flash command and goes to the bus) or through the bus.
    void mapBootPage(BootPage how) {
        if (how == bootPage && !cellWindows.empty() && cellWindows.back().base == BOOT_PAGE) {
            return;
        }
        uc_mem_unmap(uc, BOOT_PAGE, BOOT_PAGE_SIZE);
        std::erase_if(cellWindows, [](const CellWindow& w) { return w.base == BOOT_PAGE; });
        lastCellWindow = 0;
        if (how == BootPage::Cells) {
            std::span<const uint8_t> cells =
                owner.bootFlash_->cells().view(BOOT_PAGE - FlashArray::BASE, BOOT_PAGE_SIZE);
            auto* data = const_cast<uint8_t*>(cells.data());  // the engine only reads it
            check(uc_mem_map_ptr(uc, BOOT_PAGE, BOOT_PAGE_SIZE, UC_PROT_READ | UC_PROT_EXEC, data), "map boot page");
            cellWindows.push_back({BOOT_PAGE, {data, BOOT_PAGE_SIZE}});
            uc_ctl_remove_cache(uc, BOOT_PAGE, ALL_ADDRESSES_END);  // the cells may have changed
        } else {
            mapBus(BOOT_PAGE, BOOT_PAGE_SIZE);
        }
        bootPage = how;
    }

    Registers registers() const {
        Registers r;
        for (int i = 0; i < 32; ++i) {
            uc_reg_read(uc, UC_PPC_REG_0 + i, &r.gpr[static_cast<size_t>(i)]);
        }
        uc_reg_read(uc, UC_PPC_REG_PC, &r.pc);
        uc_reg_read(uc, UC_PPC_REG_LR, &r.lr);
        uc_reg_read(uc, UC_PPC_REG_CTR, &r.ctr);
        uc_reg_read(uc, UC_PPC_REG_CR, &r.cr);
        uc_reg_read(uc, UC_PPC_REG_XER, &r.xer);
        uc_reg_read(uc, UC_PPC_REG_MSR, &r.msr);
        return r;
    }

    void check(uc_err err, const char* what) {
        if (err != UC_ERR_OK) {
            throw std::runtime_error(std::string("emulated core: ") + what + ": " + uc_strerror(err));
        }
    }

    // Runs a few instructions placed below the stack that set what the
    // engine offers no register access for (HID0), then puts the bytes back.
    void setSpecialRegisters(const Entry& entry) {
        uint32_t stub = (entry.stackPointer - 0x100) & ~0xFu;
        uint32_t r0 = 0;
        const uint32_t code[] = {
            0x3C000000u | (entry.hid0 >> 16),                                          // lis r0, hid0@h
            0x60000000u | (entry.hid0 & 0xFFFF),                                       // ori r0, r0, hid0@l
            0x7C0003A6u | ((SPR_HID0 & 0x1F) << 16) | (((SPR_HID0 >> 5) & 0x1F) << 11),  // mtspr HID0, r0
        };
        uint32_t saved[3];
        for (size_t i = 0; i < 3; ++i) {
            saved[i] = owner.bus_.read32(stub + 4 * static_cast<uint32_t>(i));
            owner.bus_.write32(stub + 4 * static_cast<uint32_t>(i), code[i]);
        }
        uc_err err = uc_emu_start(uc, stub, stub + sizeof code, 0, 0);
        for (size_t i = 0; i < 3; ++i) {
            owner.bus_.write32(stub + 4 * static_cast<uint32_t>(i), saved[i]);
        }
        uc_ctl_remove_cache(uc, stub, stub + sizeof code);
        check(err, "setting HID0");
        uc_reg_write(uc, UC_PPC_REG_0, &r0);
    }

    void openEngine() {
        check(uc_open(UC_ARCH_PPC, static_cast<uc_mode>(UC_MODE_PPC32 | UC_MODE_BIG_ENDIAN), &uc), "open");
        // The e500v2 model: the engine's e500v1 models take a TLB miss on
        // the first fetch, having no TLB entries and no way to write them.
        check(uc_ctl_set_cpu_model(uc, UC_CPU_PPC32_E500V2_V22), "cpu model");
        mapRam(0, owner.ramSize_);
        mapBus(owner.ramSize_, static_cast<uint64_t>(BOOT_PAGE) - owner.ramSize_);
        owner.timers_.powerUp();
        owner.interrupts_.powerUp();
    }

    void addHooks() {
        uc_hook hook;
        check(uc_hook_add(uc, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(onCode), this, 1, 0), "code hook");
        check(uc_hook_add(uc, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(onInterrupt), this, 1, 0),
              "interrupt hook");
        check(uc_hook_add(uc, &hook, UC_HOOK_MEM_UNMAPPED | UC_HOOK_MEM_FETCH_PROT | UC_HOOK_MEM_WRITE_PROT,
                          reinterpret_cast<void*>(onUnmapped), this, 1, 0),
              "memory hook");
    }

    void open(const Entry& entry) {
        openEngine();
        mapBootPage(BootPage::Bus);
        setSpecialRegisters(entry);
        owner.timers_.hid0Written(entry.hid0, 0);
        addHooks();
        uint32_t msr = entry.msr;
        uint32_t r1 = entry.stackPointer;
        uint32_t r3 = entry.argument;
        uint32_t lr = entry.returnAddress;
        uc_reg_write(uc, UC_PPC_REG_MSR, &msr);
        uc_reg_write(uc, UC_PPC_REG_1, &r1);
        uc_reg_write(uc, UC_PPC_REG_3, &r3);
        uc_reg_write(uc, UC_PPC_REG_LR, &lr);
        // The caller's frame: an end to the back chain, no saved return.
        owner.bus_.write32(entry.stackPointer, 0);
        owner.bus_.write32(entry.stackPointer + 4, 0);
        counting = true;
    }

    void openFromReset() {
        if (owner.bootFlash_ == nullptr) {
            throw std::runtime_error("emulated core: no boot flash to start from");
        }
        openEngine();
        fromReset = true;
        mapBootPage(flashReadsArray() ? BootPage::Cells : BootPage::Bus);
        addHooks();
        uint32_t zero = 0;
        uc_reg_write(uc, UC_PPC_REG_MSR, &zero);
        counting = true;
    }

    // Between two runs of the engine: what a hook asked for that cannot be
    // done inside one.
    std::optional<uint32_t> between() {
        if (bootPageWanted) {
            mapBootPage(*bootPageWanted);
            bootPageWanted.reset();
        }
        std::optional<uint32_t> at = restartAt;
        restartAt.reset();
        return at;
    }

    // The decrementer's interrupt, when it is due and external interrupts
    // are enabled (checked between slices).
    void decrementer(uint32_t pc) {
        if ((msr() & E500Interrupts::MSR_EE) != 0 && owner.timers_.decrementerPending(boardMicros()) &&
            owner.interrupts_.vectorReady(E500Interrupts::DECREMENTER)) {
            const E500Interrupts::Taken taken =
                owner.interrupts_.take(E500Interrupts::DECREMENTER, pc, msr(), E500Interrupts::Syndrome{});
            jump(taken.pc, taken.msr);
        }
    }
};

bool E500Emulator::available() { return true; }

E500Emulator::E500Emulator(MemoryMap& bus, uint32_t ramSize, uint64_t timeBaseHz)
    : bus_(bus), ramSize_(ramSize), timers_(timeBaseHz) {}

E500Emulator::~E500Emulator() = default;

E500Emulator::Stop E500Emulator::run(const Entry& entry) {
    Engine engine(*this);
    engine.open(entry);
    return execute(engine, entry.address, entry.returnAddress);
}

E500Emulator::Stop E500Emulator::powerOn() {
    Engine engine(*this);
    engine.openFromReset();
    // Never reached: instructions are word aligned.
    return execute(engine, RESET_VECTOR, Engine::ALL_ADDRESSES_END);
}

E500Emulator::Stop E500Emulator::execute(Engine& engine, uint32_t pc, uint32_t until) {
    engine_ = &engine;
    struct Detach {
        E500Emulator& self;
        ~Detach() { self.engine_ = nullptr; }
    } detach{*this};
    for (;;) {
        uint64_t before = engine.executed;
        engine.sliceEnd = before + slice_;
        uc_err err = uc_emu_start(engine.uc, pc, until, 0, 0);
        executed_ += engine.executed - before;
        if (engine.pendingEvent) {
            std::rethrow_exception(engine.pendingEvent);
        }
        const std::optional<uint32_t> restart = engine.between();
        if (!engine.stop && err != UC_ERR_OK && !restart) {
            engine.halt(StopKind::Exception, std::string("the engine stopped: ") + uc_strerror(err));
        }
        if (engine.stop) {
            Stop stop = *engine.stop;
            stop.registers = engine.registers();
            return stop;
        }
        if (restart) {
            pc = *restart;
            continue;
        }
        uc_reg_read(engine.uc, UC_PPC_REG_PC, &pc);
        if (pc == until) {
            Stop stop;
            stop.kind = StopKind::Returned;
            stop.registers = engine.registers();
            stop.result = stop.registers.gpr[3];
            stop.pc = pc;
            return stop;
        }
        if (engine.executed < engine.sliceEnd) {
            continue;  // stopped for a hook's request, not at the slice's end
        }
        engine.boardMicros();
        if (sliceHook_) {
            try {
                sliceHook_(engine.executed - before);
            } catch (const BoardMachineCheck& check) {
                if (!engine.fromReset) {
                    throw;
                }
                engine.machineCheckFrom(check, 0, false);
            }
        }
        if (engine.pending) {
            Engine::Pending p = std::move(*engine.pending);
            engine.pending.reset();
            p.pc = pc;
            p.at = pc;
            engine.take(p);
            if (engine.pendingEvent) {
                std::rethrow_exception(engine.pendingEvent);
            }
            if (engine.stop) {
                Stop stop = *engine.stop;
                stop.registers = engine.registers();
                return stop;
            }
            uc_reg_read(engine.uc, UC_PPC_REG_PC, &pc);
            continue;
        }
        engine.decrementer(pc);
        uc_reg_read(engine.uc, UC_PPC_REG_PC, &pc);
    }
}

#else  // built without the engine

struct E500Emulator::Engine {};

bool E500Emulator::available() { return false; }

E500Emulator::E500Emulator(MemoryMap& bus, uint32_t ramSize, uint64_t timeBaseHz)
    : bus_(bus), ramSize_(ramSize), timers_(timeBaseHz) {}

E500Emulator::~E500Emulator() = default;

E500Emulator::Stop E500Emulator::run(const Entry&) {
    throw std::runtime_error("this simulator was built without the emulated core (install libunicorn-dev and rebuild)");
}

E500Emulator::Stop E500Emulator::powerOn() { return run(Entry{}); }

#endif

}  // namespace sim
