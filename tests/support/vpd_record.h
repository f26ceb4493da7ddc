// The 256-byte VPD record as "vpd.bin" holds it, laid out by hand
// (independently of the loader's and the provisioning's offsets): the MAC
// address at 0, then NUL-terminated texts at their places, zeros elsewhere.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

inline std::vector<uint8_t> vpdRecordOf(const std::vector<uint8_t>& mac, const std::string& serial,
                                        const std::string& description, const std::string& dateCode,
                                        const std::string& partNumber, const std::string& revision) {
    std::vector<uint8_t> record(256, 0);
    std::copy(mac.begin(), mac.end(), record.begin());
    const std::pair<size_t, const std::string&> texts[] = {
        {7, serial}, {28, description}, {109, dateCode}, {116, partNumber}, {129, revision}};
    for (const auto& [offset, text] : texts) {
        std::copy(text.begin(), text.end(), record.begin() + static_cast<long>(offset));
    }
    return record;
}

}  // namespace testing_support
