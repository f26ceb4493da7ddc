#include "board/reboot_request.h"

#include "board/board_events.h"

namespace sim {

void RebootRequest::write32(uint32_t value) {
    if (value == REQUEST && dueMicros_ < 0) {
        dueMicros_ = (now_ ? now_() : 0) + DELAY_MICROS;
    }
}

void RebootRequest::check(int64_t nowMicros) const {
    if (dueMicros_ >= 0 && nowMicros >= dueMicros_) {
        throw BoardReset{"reboot request (0x1234 at 0xc0000000)"};
    }
}

}  // namespace sim
