#include "board/mpc85xx_ccsr.h"

namespace sim {

std::optional<uint32_t> Mpc85xxCcsr::read32(uint32_t offset) const {
    switch (offset) {
        case REG_PORPLLSR:
            return regs_.pllStatus();
        case REG_L2CTL:
            return regs_.l2ctl;
        case REG_L2SRBAR0:
            return regs_.l2srbar0;
        case REG_L2SRBAR1:
            return regs_.l2srbar1;
        default:
            return std::nullopt;
    }
}

bool Mpc85xxCcsr::write32(uint32_t offset, uint32_t value) {
    switch (offset) {
        case REG_PORPLLSR:
            return true;  // read-only: the straps decide, a write changes nothing
        case REG_L2CTL:
            regs_.l2ctl = value;
            return true;
        case REG_L2SRBAR0:
            regs_.l2srbar0 = value;
            return true;
        case REG_L2SRBAR1:
            regs_.l2srbar1 = value;
            return true;
        default:
            return false;
    }
}

}  // namespace sim
