// The services of the operating system and the board that the loader uses,
// gathered by whoever boots the loader and handed to it as one aggregate.
#pragma once

#include "platform/bus.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/cpu.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "platform/pci.h"
#include "platform/status.h"
#include "platform/tasks.h"
#include "platform/volume.h"

namespace swboot {

struct Platform {
    Console& console;
    Clock& clock;
    Tasks& tasks;
    Files& files;
    Volume& volume;
    Bus& bus;
    Cpu& cpu;
    Pci& pci;
    Memory& memory;
};

}  // namespace swboot
