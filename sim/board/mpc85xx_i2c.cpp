#include "board/mpc85xx_i2c.h"

#include <cstdio>

#include "board/board_events.h"

namespace sim {

namespace {

constexpr size_t EVENT_LOG_MAX = 100000;
constexpr uint8_t DFSRR_RESET = 0x10;
constexpr uint8_t READ_BIT = 0x01;

std::string hexByte(const char* what, uint8_t value) {
    char text[96];
    std::snprintf(text, sizeof text, "%s 0x%02x", what, value);
    return text;
}

}  // namespace

const char* Mpc85xxI2c::stateName(State state) {
    switch (state) {
        case State::Idle:
            return "idle";
        case State::AddressWait:
            return "address";
        case State::Transmit:
            return "transmit";
        case State::Receive:
            return "receive";
    }
    return "?";
}

void Mpc85xxI2c::powerUp() {
    adr_ = 0;
    fdr_ = 0;
    cr_ = 0;
    sr_ = SR_MCF;
    dr_ = 0;
    dfsrr_ = DFSRR_RESET;
    state_ = State::Idle;
    transfer_ = Transfer::None;
    pollsLeft_ = 0;
}

void Mpc85xxI2c::busError(const char* access, uint32_t offset, unsigned width) const {
    char text[128];
    std::snprintf(text, sizeof text, "bus error: %u-bit %s at 0x%08x (I2C controller)", width * 8, access,
                  BASE + offset);
    throw BoardMachineCheck{text};
}

void Mpc85xxI2c::event(const std::string& text) {
    if (events_.size() < EVENT_LOG_MAX) {
        events_.push_back(text);
    }
    if (trace_) {
        trace_(text);
    }
}

uint8_t Mpc85xxI2c::reg(uint32_t offset) const {
    switch (offset) {
        case REG_ADR:
            return adr_;
        case REG_FDR:
            return fdr_;
        case REG_CR:
            return cr_;
        case REG_SR:
            return static_cast<uint8_t>(sr_ | (bus_.heldBusy() ? SR_MBB : 0));
        case REG_DR:
            return dr_;
        case REG_DFSRR:
            return dfsrr_;
        default:
            return 0;
    }
}

uint32_t Mpc85xxI2c::read(uint32_t offset, unsigned width) {
    if ((width != 1 && width != 4) || offset % 4 != 0 || offset > REG_DFSRR) {
        busError("read", offset, width);
    }
    uint8_t value = readRegister(offset);
    return width == 4 ? static_cast<uint32_t>(value) << 24 : value;
}

void Mpc85xxI2c::write(uint32_t offset, unsigned width, uint32_t value) {
    if ((width != 1 && width != 4) || offset % 4 != 0 || offset > REG_DFSRR) {
        busError("write", offset, width);
    }
    writeRegister(offset, static_cast<uint8_t>(width == 4 ? value >> 24 : value));
}

uint8_t Mpc85xxI2c::readRegister(uint32_t offset) {
    switch (offset) {
        case REG_SR:
            return statusRead();
        case REG_DR:
            return dataRead();
        default:
            return reg(offset);
    }
}

void Mpc85xxI2c::writeRegister(uint32_t offset, uint8_t value) {
    switch (offset) {
        case REG_ADR:
            adr_ = value & 0xFE;
            break;
        case REG_FDR:
            fdr_ = value & 0x3F;
            break;
        case REG_CR:
            controlWrite(value);
            break;
        case REG_SR:
            // MIF and MAL are cleared by writing 0; the rest is read-only.
            sr_ &= static_cast<uint8_t>(value | ~(SR_MIF | SR_MAL));
            break;
        case REG_DR:
            dataWrite(value);
            break;
        case REG_DFSRR:
            dfsrr_ = value & 0x3F;
            break;
        default:
            break;
    }
}

void Mpc85xxI2c::controlWrite(uint8_t value) {
    const uint8_t old = cr_;
    cr_ = value & static_cast<uint8_t>(~CR_RSTA);  // RSTA always reads 0
    if ((value & CR_MEN) == 0) {
        // Disabled: the block lets go of the bus and forgets the transfer.
        if (state_ != State::Idle) {
            bus_.stopCondition();
            event("stop (controller disabled)");
        }
        cr_ &= static_cast<uint8_t>(~CR_MSTA);
        sr_ = SR_MCF;
        state_ = State::Idle;
        transfer_ = Transfer::None;
        return;
    }
    const bool wasMaster = (old & CR_MSTA) != 0;
    const bool master = (value & CR_MSTA) != 0;
    if (!wasMaster && master) {
        if (startHook_) {
            startHook_();
        }
        if ((sr_ & SR_MBB) || bus_.heldBusy()) {
            // Someone else has the bus: arbitration is lost at once.
            cr_ &= static_cast<uint8_t>(~CR_MSTA);
            sr_ |= SR_MAL | SR_MIF;
            event("start refused: bus busy (arbitration lost)");
            return;
        }
        bus_.startCondition();
        sr_ |= SR_MBB;
        state_ = State::AddressWait;
        transfer_ = Transfer::None;
        char text[48];
        std::snprintf(text, sizeof text, "start (channel %u)", bus_.channel());
        event(text);
    } else if (wasMaster && !master) {
        if (transfer_ != Transfer::None) {
            ++protocolErrors_;
            event("stop while a byte was on the bus");
            transfer_ = Transfer::None;
        }
        bus_.stopCondition();
        sr_ &= static_cast<uint8_t>(~SR_MBB);
        state_ = State::Idle;
        event("stop");
    } else if (master && (value & CR_RSTA)) {
        bus_.startCondition();
        state_ = State::AddressWait;
        transfer_ = Transfer::None;
        event("repeated start");
    }
}

void Mpc85xxI2c::transferStart(Transfer kind) {
    if (transfer_ != Transfer::None) {
        ++protocolErrors_;
        event(std::string("data register accessed while a byte was on the bus (") + stateName(state_) + ")");
    }
    transfer_ = kind;
    pollsLeft_ = BYTE_POLLS;
    sr_ &= static_cast<uint8_t>(~(SR_MIF | SR_MCF));
}

void Mpc85xxI2c::dataWrite(uint8_t value) {
    if (transfer_ != Transfer::None) {
        ++protocolErrors_;
        event(hexByte("data register written while a byte was on the bus:", value));
        return;
    }
    dr_ = value;
    if ((cr_ & CR_MSTA) == 0 || (cr_ & CR_MTX) == 0 || state_ == State::Idle) {
        return;  // nothing goes out: not master, or not transmitting
    }
    transferStart(state_ == State::AddressWait ? Transfer::Address : Transfer::Write);
}

uint8_t Mpc85xxI2c::dataRead() {
    if (transfer_ != Transfer::None) {
        ++protocolErrors_;
        event("data register read while a byte was on the bus");
        return dr_;
    }
    uint8_t value = dr_;
    if ((cr_ & CR_MSTA) && (cr_ & CR_MTX) == 0 && state_ == State::Receive) {
        transferStart(Transfer::Read);
    }
    return value;
}

uint8_t Mpc85xxI2c::statusRead() {
    if (transfer_ != Transfer::None && --pollsLeft_ <= 0) {
        transferComplete();
    }
    return reg(REG_SR);
}

void Mpc85xxI2c::transferComplete() {
    Transfer kind = transfer_;
    transfer_ = Transfer::None;
    bool acknowledged = true;
    switch (kind) {
        case Transfer::Address: {
            const bool read = (dr_ & READ_BIT) != 0;
            acknowledged = bus_.addressByte(dr_);
            state_ = read ? State::Receive : State::Transmit;
            char text[96];
            std::string name = bus_.nameAt(static_cast<uint8_t>(dr_ >> 1));
            std::snprintf(text, sizeof text, "address 0x%02x %s %s%s%s", dr_, read ? "read" : "write",
                          acknowledged ? "ack" : "nack", name.empty() ? "" : " ", name.c_str());
            event(text);
            break;
        }
        case Transfer::Write:
            acknowledged = bus_.writeByte(dr_);
            event(hexByte("data", dr_) + (acknowledged ? " ack" : " nack"));
            break;
        case Transfer::Read: {
            // RXAK shows the acknowledge bit on the line, which the master
            // itself drives when receiving.
            acknowledged = (cr_ & CR_TXAK) == 0;
            dr_ = bus_.readByte(acknowledged);
            event(hexByte("read", dr_) + (acknowledged ? " ack" : " nack"));
            break;
        }
        case Transfer::None:
            return;
    }
    sr_ |= SR_MIF | SR_MCF;
    if (acknowledged) {
        sr_ &= static_cast<uint8_t>(~SR_RXAK);
    } else {
        sr_ |= SR_RXAK;
    }
}

}  // namespace sim
