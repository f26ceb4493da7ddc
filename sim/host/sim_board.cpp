#include "host/sim_board.h"

#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "board/board_events.h"
#include "loader.h"

namespace sim {

namespace {

std::unique_ptr<FlashArray> makeFlash(const BoardOptions& options) {
    if (options.flashInMemory) {
        return std::make_unique<FlashArray>();
    }
    return std::make_unique<FlashArray>(options.stateDir / "flash.bin");
}

}  // namespace

SimBoard::SimBoard(BoardOptions options, SimClock& clock, SerialLine& line, Diagnostics& diagnostics)
    : options_(std::move(options)),
      clock_(clock),
      paced_(options_.linePaced ? std::make_unique<PacedLine>(line, clock) : nullptr),
      line_(paced_ ? *paced_ : line),
      diagnostics_(diagnostics),
      flash_((std::filesystem::create_directories(options_.stateDir), makeFlash(options_))),
      cpld_(options_.profile.cpld),
      pci_(options_.profile.pci),
      core_(options_.profile.cpu),
      ccsr_(options_.profile.soc),
      memoryMap_(ram_, cpld_, *flash_, ccsr_),
      heap_(ram_),
      volume_(std::make_unique<HostVolume>(*flash_, options_.stateDir / "volume", clock)),
      tty_(line_, clock),
      platform_{tty_, clock_, tasks_, *volume_, *volume_, memoryMap_, core_, pci_, heap_} {
    flash_->setPowerCut(&powerCut_);
    volume_->setPowerCut(&powerCut_);
    powerCut_.armAfter(options_.powerCutAfter, options_.powerCutSeed);
    cpld_.setClock([this] { return clock_.nowMicros(); });
    ram_.setFaults(options_.profile.ramFaults);
    if (options_.traceCpld) {
        cpld_.setTrace([this](const std::string& text) { diagnostics_.line(text); });
    }
    core_.setHandoverHandler([this](const E500Core::Handover& record) { return handover(record); });
    core_.setHaltHandler([this] { halted(); });
    volume_->setPrinter([this](std::string_view text) {
        tty_.write(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    });
    tty_.setPollHook([this] { pollTermination(); });
    if (paced_) {
        tty_.setRawModeHook([this](bool raw) {
            if (raw) {
                paced_->meterStart();
            } else {
                reportTransfer(paced_->meterStop());
            }
        });
    }
    clock_.setSleeper([this](int64_t deadline) { tty_.idleUntil(deadline); });
}

SimBoard::~SimBoard() { clock_.setSleeper(nullptr); }

void SimBoard::pollTermination() {
    if (!terminationRequested_.exchange(false)) {
        return;
    }
    // The loader's handler (a transfer in progress) restores its console
    // first; then the simulator stops, as the host asked.
    tasks_.deliverTermination();
    throw BoardPowerOff{"terminated by the host (SIGTERM)", EXIT_TERMINATED};
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
    core_.powerUp();
    ccsr_.powerUp();
    heap_.powerUp();
    tasks_.powerUp();
    volume_->powerUp();
    if (paced_) {
        paced_->powerUp();
    }
    tty_.powerUp();
}

int SimBoard::run() {
    for (;;) {
        if (options_.maxPowerOns > 0 && powerOns_ >= options_.maxPowerOns) {
            diagnostics_.linef("board: stopped after %d power-ons", powerOns_);
            return EXIT_TOO_MANY_RESETS;
        }
        powerUp();
        ++powerOns_;
        try {
            swboot::Loader loader(platform_);
            loader.bootMain();
            diagnostics_.line("board: the loader returned; powering off");
            return 0;
        } catch (const BoardPowerCut& cut) {
            lastResetCause_ = cut.cause;
            diagnostics_.line("board: " + cut.cause + "; powering up again from what is stored");
        } catch (const BoardReset& reset) {
            lastResetCause_ = reset.cause;
            diagnostics_.line("board: reset (" + reset.cause + ")");
        } catch (const BoardMachineCheck& check) {
            lastResetCause_ = "machine check: " + check.cause;
            diagnostics_.line("board: machine check: " + check.cause + "; the board reboots");
        } catch (const BoardPowerOff& off) {
            diagnostics_.line("board: power off (" + off.cause + ")");
            return off.exitStatus;
        }
    }
}

int SimBoard::handover(const E500Core::Handover& record) {
    diagnostics_.linef("handover: entry=0x%08x mode=%u msr=0x%08x hid0=0x%08x", record.entry, record.startMode,
                       record.msr, record.hid0);
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
    switch (options_.onHandover) {
        case OnHandover::Exit:
            throw BoardPowerOff{"operational code started", 0};
        case OnHandover::Return:
            return static_cast<int>(record.startMode);
        case OnHandover::Wait:
            break;
    }
    idleForever("the operational code owns the board");
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
