// The firmware's C++ entry: the start-up calls firmwareMain() on the stack
// at the top of RAM, with the translations, vectors and time base set up.
// It builds the board's platform and one loader, all on this stack (the
// firmware keeps no global objects), and runs the loader, which does not
// return on the board.
#include "loader.h"
#include "platform/board_bus.h"
#include "platform/e500_cpu.h"
#include "platform/pci_controller.h"
#include "platform/pool_memory.h"
#include "platform/single_task.h"
#include "platform/time_base.h"
#include "platform/uart_console.h"
#include "platform/volume_client.h"
#include "runtime/heap.h"

extern "C" [[noreturn]] void firmwareMain() {
    firmware::E500Cpu cpu;
    firmware::BoardBus bus;
    firmware::TimeBaseClock clock;
    firmware::UartConsole console(clock);
    firmware::SingleTask tasks(cpu);
    firmware::VolumeClient volume(console);
    firmware::PciController pci;
    firmware::PoolMemory memory(fwrt::systemHeap());

    const swboot::Platform platform{console, clock, tasks, volume, volume, bus, cpu, pci, memory};
    swboot::Loader loader(platform);
    loader.bootMain();
    cpu.halt();
}

// What the C runtime does when it cannot go on (memory for operator new
// exhausted, a condition the C++ library would throw for): the reason goes
// straight to the console UART by polling, then the board stops with
// interrupts masked, for the operator to reset.
extern "C" [[noreturn]] void firmwareAbort(const char* reason) {
    using firmware::UartConsole;
    const auto put = [](char c) {
        while ((firmware::load8(UartConsole::BASE + UartConsole::REG_LSR) & UartConsole::LSR_THR_EMPTY) == 0) {
        }
        firmware::store8(UartConsole::BASE + UartConsole::REG_THR, static_cast<uint8_t>(c));
    };
    for (const char* text : {"\r\nfirmware: ", reason != nullptr ? reason : "stopped", "\r\n"}) {
        for (; *text != '\0'; ++text) {
            put(*text);
        }
    }
    asm volatile("wrteei 0");
    for (;;) {
    }
}
