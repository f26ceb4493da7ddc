// Loading new operational code over the console line: receives an image
// into "xcode.bin" with the xmodem command, checks its CRC, size and target
// device, shows its header, keeps its boot code in "bootcode.bin" for a
// later boot code update, and installs it under the active image's name.
#pragma once

#include <cstdint>

namespace swboot {

class Loader;

inline constexpr const char* CODE_LOAD_RECEIVE_FILE = "xcode.bin";
inline constexpr const char* CODE_LOAD_BOOT_CODE_FILE = "bootcode.bin";
inline constexpr const char* CODE_LOAD_XMODEM_ARGUMENTS = "-cbrke %s";

// Results of codeLoadXmodem.
inline constexpr int CODE_LOAD_OK = 0;
inline constexpr int CODE_LOAD_FAILED = 1;
inline constexpr int CODE_LOAD_UNREADABLE = 2;

class CodeLoad {
public:
    explicit CodeLoad(Loader& loader) : loader_(loader) {}

    // 0 when the new code is installed, 1 on any failure, 2 when the first
    // bytes of the received file cannot be read. Before the installation
    // nothing stored changes but "xcode.bin" and "bootcode.bin".
    int codeLoadXmodem(uint32_t targetDeviceId);

private:
    // Copies the boot code component into "bootcode.bin"; CODE_LOAD_OK or
    // CODE_LOAD_FAILED after its message.
    int bootCodeExtract(uint32_t offset, uint32_t size);

    Loader& loader_;
};

}  // namespace swboot
