// The processor's I2C controller (the e500 parts' I2C block), at
// 0xF0003000, as bus master.
//
// Modelled: the address, frequency divider, control, status, data and
// digital filter registers, each an 8-bit register at a word address that
// takes byte accesses and 32-bit accesses (the register in the word's first
// byte, the other three reserved: read as 0, writes ignored); any other
// width or offset is a bus error. Master mode as an explicit state machine:
// a start when MSTA goes 1 (arbitration is lost when the bus is busy), a
// stop when MSTA goes 0, a repeated start on RSTA; a data-register write in
// transmit mode sends the byte (the address byte after a start), a
// data-register read in receive mode returns the last byte received and
// starts receiving the next, acknowledged unless TXAK is set. A byte on the
// bus takes time: the transfer completes after the status register has
// been polled a few times, and only then are MIF, MCF and RXAK set and the
// received byte in the data register. Slave mode and interrupts are not
// modelled.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "board/i2c_mux.h"

namespace sim {

class Mpc85xxI2c {
public:
    static constexpr uint32_t BASE = 0xF0003000;
    static constexpr uint32_t SIZE = 0x100;

    static constexpr uint32_t REG_ADR = 0x00;
    static constexpr uint32_t REG_FDR = 0x04;
    static constexpr uint32_t REG_CR = 0x08;
    static constexpr uint32_t REG_SR = 0x0C;
    static constexpr uint32_t REG_DR = 0x10;
    static constexpr uint32_t REG_DFSRR = 0x14;

    static constexpr uint8_t CR_MEN = 0x80;
    static constexpr uint8_t CR_MIEN = 0x40;
    static constexpr uint8_t CR_MSTA = 0x20;
    static constexpr uint8_t CR_MTX = 0x10;
    static constexpr uint8_t CR_TXAK = 0x08;
    static constexpr uint8_t CR_RSTA = 0x04;

    static constexpr uint8_t SR_MCF = 0x80;
    static constexpr uint8_t SR_MAAS = 0x40;
    static constexpr uint8_t SR_MBB = 0x20;
    static constexpr uint8_t SR_MAL = 0x10;
    static constexpr uint8_t SR_MIF = 0x02;
    static constexpr uint8_t SR_RXAK = 0x01;

    // Status polls a byte on the bus lasts.
    static constexpr int BYTE_POLLS = 2;

    enum class State { Idle, AddressWait, Transmit, Receive };
    static const char* stateName(State state);

    explicit Mpc85xxI2c(I2cMux& bus) : bus_(bus) { powerUp(); }

    void powerUp();

    // Bus face: width 1 or 4 at a register's word address.
    uint32_t read(uint32_t offset, unsigned width);
    void write(uint32_t offset, unsigned width, uint32_t value);

    // Control face: every bus event as a logic analyser would show it
    // ("start", "address 0xd0 write ack", "data 0x00 ack", "repeated start",
    // "read 0x05 nack", "stop"), the trace, the state.
    void setTrace(std::function<void(const std::string&)> trace) { trace_ = std::move(trace); }
    // Called as the controller starts a transfer, before it takes the bus:
    // where the host may bring devices up to date between transfers.
    void setStartHook(std::function<void()> hook) { startHook_ = std::move(hook); }
    const std::vector<std::string>& events() const { return events_; }
    void clearEvents() { events_.clear(); }
    State state() const { return state_; }
    uint8_t reg(uint32_t offset) const;
    // Accesses the loader made against the protocol (a data-register access
    // while a byte was still on the bus); zero for a correct driver.
    int protocolErrors() const { return protocolErrors_; }

private:
    enum class Transfer { None, Address, Write, Read };

    uint8_t readRegister(uint32_t offset);
    void writeRegister(uint32_t offset, uint8_t value);
    void controlWrite(uint8_t value);
    void dataWrite(uint8_t value);
    uint8_t dataRead();
    uint8_t statusRead();
    void transferStart(Transfer kind);
    void transferComplete();
    void event(const std::string& text);
    [[noreturn]] void busError(const char* access, uint32_t offset, unsigned width) const;

    I2cMux& bus_;
    uint8_t adr_ = 0;
    uint8_t fdr_ = 0;
    uint8_t cr_ = 0;
    uint8_t sr_ = 0;
    uint8_t dr_ = 0;
    uint8_t dfsrr_ = 0;
    State state_ = State::Idle;
    Transfer transfer_ = Transfer::None;
    int pollsLeft_ = 0;
    int protocolErrors_ = 0;
    std::vector<std::string> events_;
    std::function<void(const std::string&)> trace_;
    std::function<void()> startHook_;
};

}  // namespace sim
