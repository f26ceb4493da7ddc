#include "board/eeprom24c02.h"

namespace sim {

bool Eeprom24c02::addressed(bool read) {
    if (busyAttempts_ > 0) {
        --busyAttempts_;
        return false;
    }
    addressNext_ = !read;
    dataWritten_ = false;
    return true;
}

bool Eeprom24c02::write(uint8_t byte) {
    if (addressNext_) {
        address_ = byte;
        addressNext_ = false;
        return true;
    }
    bytes_[address_] = byte;
    const uint8_t page = static_cast<uint8_t>(address_ & ~(PAGE_SIZE - 1));
    address_ = static_cast<uint8_t>(page | ((address_ + 1) & (PAGE_SIZE - 1)));
    dataWritten_ = true;
    return true;
}

uint8_t Eeprom24c02::read(bool) { return bytes_[address_++]; }

void Eeprom24c02::stop() {
    if (dataWritten_) {
        busyAttempts_ = WRITE_CYCLE_ADDRESS_ATTEMPTS;
    }
    dataWritten_ = false;
}

}  // namespace sim
