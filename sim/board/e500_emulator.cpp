#include "board/e500_emulator.h"

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

constexpr int SPR_DEC = 22;
constexpr int SPR_TBL_READ = 268;
constexpr int SPR_TBU_READ = 269;
constexpr int SPR_TBL_WRITE = 284;
constexpr int SPR_TBU_WRITE = 285;
constexpr int SPR_HID0 = 1008;

// The engine maps memory in pages of this size.
constexpr uint32_t PAGE_SIZE = 0x1000;

[[maybe_unused]] uint32_t loadWord(std::span<const uint8_t> ram, uint32_t address) {
    if (address > ram.size() || ram.size() - address < 4) {
        return 0;
    }
    return (uint32_t{ram[address]} << 24) | (uint32_t{ram[address + 1]} << 16) | (uint32_t{ram[address + 2]} << 8) |
           ram[address + 3];
}

// The special register an mfspr or mtspr names (its two halves swapped in
// the encoding).
int sprField(uint32_t word) { return static_cast<int>(((word >> 16) & 0x1F) | (((word >> 11) & 0x1F) << 5)); }

// Why the instruction must not reach the engine, or nullptr when it may.
[[maybe_unused]] const char* unsupported(uint32_t word) {
    if ((word >> 26) != PRIMARY_OPCODE_X_FORM) {
        return nullptr;
    }
    uint32_t extended = (word >> 1) & 0x3FF;
    if (extended == EXTENDED_MFTB) {
        return "time base read: this emulated core has no time base";
    }
    if (extended != EXTENDED_MFSPR && extended != EXTENDED_MTSPR) {
        return nullptr;
    }
    switch (sprField(word)) {
        case SPR_TBL_READ:
        case SPR_TBU_READ:
        case SPR_TBL_WRITE:
        case SPR_TBU_WRITE:
            return "time base access: this emulated core has no time base";
        case SPR_DEC:
            return "decrementer access: this emulated core has no decrementer";
        default:
            return nullptr;
    }
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
    // Unicorn's number for an instruction the core does not decode.
    static constexpr uint32_t INTERRUPT_ILLEGAL = 96;
    static constexpr uint32_t INTERRUPT_PROGRAM = 6;
    static constexpr uint32_t INTERRUPT_SYSTEM_CALL = 8;
    static constexpr uint32_t INTERRUPT_SPE_UNAVAILABLE = 32;

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

    E500Emulator& owner;
    uc_engine* uc = nullptr;
    std::vector<CellWindow> cellWindows;
    std::deque<BusWindow> busWindows;  // the engine keeps pointers to them
    size_t lastCellWindow = 0;
    uint64_t executed = 0;
    uint64_t sliceEnd = 0;
    uint32_t lastPc = 0;
    bool counting = false;
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

    // The word at a RAM address the engine can fetch from; 0 elsewhere.
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

    static void onCode(uc_engine* engine, uint64_t address, uint32_t, void* user) {
        auto* self = static_cast<Engine*>(user);
        if (self->stopping()) {
            uc_emu_stop(engine);
            return;
        }
        self->lastPc = static_cast<uint32_t>(address);
        if (const char* why = unsupported(self->instructionAt(self->lastPc))) {
            // A stop requested here comes before the instruction runs,
            // which the engine would not survive.
            self->halt(StopKind::IllegalInstruction, why);
            return;
        }
        if (!self->counting) {
            return;
        }
        if (self->executed >= self->sliceEnd) {
            uc_emu_stop(engine);  // this instruction opens the next slice
            return;
        }
        ++self->executed;
    }

    static void onInterrupt(uc_engine*, uint32_t number, void* user) {
        auto* self = static_cast<Engine*>(user);
        char text[96];
        switch (number) {
            case INTERRUPT_ILLEGAL:
                self->halt(StopKind::IllegalInstruction, "not an instruction of this core");
                return;
            case INTERRUPT_SPE_UNAVAILABLE:
                self->halt(StopKind::IllegalInstruction, "SPE instruction while SPE is disabled in the MSR");
                return;
            case INTERRUPT_PROGRAM:
                std::snprintf(text, sizeof text, "program exception (trap or privileged instruction)");
                break;
            case INTERRUPT_SYSTEM_CALL:
                std::snprintf(text, sizeof text, "system call, and no operating system to take it");
                break;
            default:
                std::snprintf(text, sizeof text, "exception %u, and no handler to take it", number);
                break;
        }
        self->halt(StopKind::Exception, text);
    }

    static bool onUnmapped(uc_engine*, uc_mem_type type, uint64_t address, int size, int64_t, void* user) {
        auto* self = static_cast<Engine*>(user);
        char text[128];
        if (type == UC_MEM_FETCH_UNMAPPED || type == UC_MEM_FETCH_PROT) {
            std::snprintf(text, sizeof text,
                          address < self->owner.ramSize_ ? "instruction fetch from 0x%08llx, in RAM with faults"
                                                         : "instruction fetch from 0x%08llx, which is not RAM",
                          static_cast<unsigned long long>(address));
            self->lastPc = static_cast<uint32_t>(address);
        } else {
            std::snprintf(text, sizeof text, "bus error: %d-bit %s at 0x%08llx", size * 8,
                          type == UC_MEM_WRITE_UNMAPPED ? "write" : "read", static_cast<unsigned long long>(address));
        }
        self->halt(StopKind::BusError, text);
        return false;
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
            halt(StopKind::BusError, check.cause);
        } catch (...) {
            pendingEvent = std::current_exception();
            uc_emu_stop(uc);
        }
        return 0;
    }

    void deviceWrite(uint32_t address, unsigned size, uint64_t value) {
        if (stopping()) {
            return;
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
            halt(StopKind::BusError, check.cause);
        } catch (...) {
            pendingEvent = std::current_exception();
            uc_emu_stop(uc);
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

    void open(const Entry& entry) {
        check(uc_open(UC_ARCH_PPC, static_cast<uc_mode>(UC_MODE_PPC32 | UC_MODE_BIG_ENDIAN), &uc), "open");
        // The e500v2 model: the engine's e500v1 models take a TLB miss on
        // the first fetch, having no TLB entries and no way to write them.
        check(uc_ctl_set_cpu_model(uc, UC_CPU_PPC32_E500V2_V22), "cpu model");
        mapRam(0, owner.ramSize_);
        mapBus(owner.ramSize_, 0x100000000ull - owner.ramSize_);
        setSpecialRegisters(entry);
        uc_hook hook;
        check(uc_hook_add(uc, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(onCode), this, 1, 0), "code hook");
        check(uc_hook_add(uc, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(onInterrupt), this, 1, 0),
              "interrupt hook");
        check(uc_hook_add(uc, &hook, UC_HOOK_MEM_UNMAPPED | UC_HOOK_MEM_FETCH_PROT,
                          reinterpret_cast<void*>(onUnmapped), this, 1, 0),
              "memory hook");
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
};

bool E500Emulator::available() { return true; }

E500Emulator::E500Emulator(MemoryMap& bus, uint32_t ramSize) : bus_(bus), ramSize_(ramSize) {}

E500Emulator::~E500Emulator() = default;

E500Emulator::Stop E500Emulator::run(const Entry& entry) {
    Engine engine(*this);
    engine_ = &engine;
    struct Detach {
        E500Emulator& self;
        ~Detach() { self.engine_ = nullptr; }
    } detach{*this};
    engine.open(entry);
    uint32_t pc = entry.address;
    for (;;) {
        uint64_t before = engine.executed;
        engine.sliceEnd = before + slice_;
        uc_err err = uc_emu_start(engine.uc, pc, entry.returnAddress, 0, 0);
        executed_ += engine.executed - before;
        if (engine.pendingEvent) {
            std::rethrow_exception(engine.pendingEvent);
        }
        if (!engine.stop && err != UC_ERR_OK) {
            engine.halt(StopKind::Exception, std::string("the engine stopped: ") + uc_strerror(err));
        }
        if (engine.stop) {
            Stop stop = *engine.stop;
            stop.registers = engine.registers();
            return stop;
        }
        uc_reg_read(engine.uc, UC_PPC_REG_PC, &pc);
        if (pc == entry.returnAddress) {
            Stop stop;
            stop.kind = StopKind::Returned;
            stop.registers = engine.registers();
            stop.result = stop.registers.gpr[3];
            stop.pc = pc;
            return stop;
        }
        if (sliceHook_) {
            sliceHook_(engine.executed - before);
        }
    }
}

#else  // built without the engine

struct E500Emulator::Engine {};

bool E500Emulator::available() { return false; }

E500Emulator::E500Emulator(MemoryMap& bus, uint32_t ramSize) : bus_(bus), ramSize_(ramSize) {}

E500Emulator::~E500Emulator() = default;

E500Emulator::Stop E500Emulator::run(const Entry&) {
    throw std::runtime_error("this simulator was built without the emulated core (install libunicorn-dev and rebuild)");
}

#endif

}  // namespace sim
