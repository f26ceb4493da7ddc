// The xmodem command's reports and output streams: mode names, sector
// labels, the estimated transmission time, the transfer rate, and the log,
// debug and tip lines.
#include <cstdio>

#include "loader.h"
#include "transfer/xmodem.h"

namespace swboot {

namespace {

// Transmission time of one sector in bit times: 133 bytes of 10 bits and
// some slack for the acknowledgement and turnaround.
constexpr long SECTOR_BIT_TIMES = 1422;
constexpr size_t TEXT_LINE_SIZE = 512;

// Prints hours, minutes and seconds, each only when not 0.
void durationPrint(long seconds, TextSink& out) {
    const long parts[3] = {(seconds / 3600) % 24, (seconds / 60) % 60, seconds % 60};
    const char* units[3] = {"hour", "minute", "second"};
    for (int i = 0; i < 3; ++i) {
        if (parts[i] != 0) {
            out.printf("%d %s%c ", static_cast<int>(parts[i]), units[i], parts[i] != 1 ? 's' : ' ');
        }
    }
}

// Standard error as a text sink (it is not buffered).
class ErrorSink : public TextSink {
public:
    explicit ErrorSink(Stdio& io) : io_(io) {}
    int vprintf(const char* format, va_list args) override {
        char text[TEXT_LINE_SIZE];
        int n = std::vsnprintf(text, sizeof text, format, args);
        io_.eprintf("%s", text);
        return n;
    }

private:
    Stdio& io_;
};

}  // namespace

const char* xmodemModeName(char mode) {
    switch (mode) {
        case 't':
        case 'T':
            return "text";
        case 'b':
        case 'B':
            return "binary";
        default:
            return "";
    }
}

void xmodemSectorLabel(char* text, size_t size, long sectors, int blockSize, bool next) {
    const bool oneK = blockSize == XMODEM_1K_BLOCK_SIZE;
    long number = sectors;
    if (next) {
        number += oneK ? XMODEM_SECTORS_PER_1K_BLOCK : 1;
    }
    if (oneK && number > 0) {
        std::snprintf(text, size, "%ld-%ld", number - (XMODEM_SECTORS_PER_1K_BLOCK - 1), number);
    } else {
        std::snprintf(text, size, "%ld", number);
    }
}

void xmodemEstimatedTime(long sectors, uint32_t lineSpeed, TextSink& out) {
    if (sectors == 0) {
        return;
    }
    if (lineSpeed == 0) {
        lineSpeed = XMODEM_DEFAULT_LINE_SPEED;
    }
    long seconds = static_cast<long>(static_cast<int64_t>(sectors) * SECTOR_BIT_TIMES / lineSpeed) + 1;
    out.printf("Estimated transmission time ");
    durationPrint(seconds, out);
    out.printf("\n\r");
}

void xmodemTransferRate(long sectors, long seconds, TextSink& out) {
    if (sectors == 0) {
        return;
    }
    if (seconds < 0) {
        seconds = 0;
    }
    long rate = seconds != 0 ? sectors * XMODEM_SECTOR_SIZE / seconds : 0;
    out.printf("%ld Sectors Transfered in ", sectors);
    if (rate == 0) {
        out.printf("0 seconds");
        out.printf("\n\r");
        return;
    }
    durationPrint(seconds, out);
    out.printf("\n\r");
    out.printf("Transfer Rate = %d Characters per Second\n\r", static_cast<int>(rate));
}

// ---------------------------------------------------------------------------
// Output streams and reports

void Xmodem::logLine(const char* /*format*/, ...) {
    // This system opens no log sink; the log setting never comes on.
}

void Xmodem::debugLine(int /*level*/, const char* /*format*/, ...) {
    // Debug lines belong to the log sink as well.
}

void Xmodem::tipLine(const char* format, ...) {
    if (!s_.tip) {
        return;
    }
    char text[TEXT_LINE_SIZE];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    l_.io.eprintf("%s", text);
}

void Xmodem::estimatedTime(long sectors, Stream stream) {
    ErrorSink error(l_.io);
    xmodemEstimatedTime(sectors, l_.consoleBaudRate,
                        stream == Stream::Error ? static_cast<TextSink&>(error) : l_.io);
}

void Xmodem::transferRate(long sectors, Stream stream) {
    // The transfer keeps no clock: the rate report always shows 0 seconds.
    ErrorSink error(l_.io);
    xmodemTransferRate(sectors, 0, stream == Stream::Error ? static_cast<TextSink&>(error) : l_.io);
}

const char* Xmodem::label(long sectors, int blockSize, bool next) {
    xmodemSectorLabel(label_, sizeof label_, sectors, blockSize, next);
    return label_;
}

}  // namespace swboot
