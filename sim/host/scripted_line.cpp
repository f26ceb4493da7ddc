#include "host/scripted_line.h"

namespace sim {

void ScriptedLine::type(std::string_view text) { pieces_.emplace_back(text); }

void ScriptedLine::deliverAt(int64_t micros, const std::vector<uint8_t>& bytes) {
    deliveries_.emplace(micros, bytes);
}

void ScriptedLine::deliverAt(int64_t micros, std::string_view bytes) {
    deliverAt(micros, std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

void ScriptedLine::releaseDue() {
    int64_t now = clock_.nowMicros();
    while (!deliveries_.empty() && deliveries_.begin()->first <= now) {
        const std::vector<uint8_t>& bytes = deliveries_.begin()->second;
        arrived_.insert(arrived_.end(), bytes.begin(), bytes.end());
        deliveries_.erase(deliveries_.begin());
    }
}

long ScriptedLine::receive(uint8_t* buffer, size_t length) {
    releaseDue();
    if (arrived_.empty()) {
        return pieces_.empty() && deliveries_.empty() ? -1 : 0;
    }
    size_t n = 0;
    while (n < length && !arrived_.empty()) {
        buffer[n++] = arrived_.front();
        arrived_.pop_front();
    }
    return static_cast<long>(noiseToBoard_.apply(buffer, n));
}

void ScriptedLine::waitInput(int64_t deadlineMicros, bool readerWaiting) {
    releaseDue();
    if (!arrived_.empty()) {
        return;
    }
    if (readerWaiting && !pieces_.empty()) {
        arrived_.insert(arrived_.end(), pieces_.front().begin(), pieces_.front().end());
        pieces_.pop_front();
        return;
    }
    if (!deliveries_.empty()) {
        int64_t next = deliveries_.begin()->first;
        if (deadlineMicros < 0 || next <= deadlineMicros) {
            clock_.passUntil(next);
            releaseDue();
            return;
        }
    }
    if (deadlineMicros >= 0) {
        clock_.passUntil(deadlineMicros);
    }
}

void ScriptedLine::transmit(const uint8_t* data, size_t length) {
    std::vector<uint8_t> noisy;
    if (noiseFromBoard_.active()) {
        noisy = noiseFromBoard_.applied(data, length);
        data = noisy.data();
        length = noisy.size();
        if (length == 0) {
            return;
        }
    }
    output_.append(reinterpret_cast<const char*>(data), length);
    if (peer_) {
        peer_->transmitted(*this, data, length);
    }
}

}  // namespace sim
