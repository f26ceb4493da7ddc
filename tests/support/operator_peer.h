// An operator at a terminal program on a test board's line: sends a file
// with XMODEM-1K when the board asks for it, then types the next line(s)
// once the transfer is over, as a person does after the terminal
// program's send command returns.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "support/test_board.h"
#include "support/xmodem_peer.h"

namespace testing_support {

class OperatorAfterTransfer : public XmodemSenderPeer {
public:
    // Each line is typed when the board next waits for input.
    OperatorAfterTransfer(TestBoard& board, std::vector<uint8_t> file, std::vector<std::string> next)
        : XmodemSenderPeer(board.line(), Protocol::Xmodem, {PeerFile{"", std::move(file), ""}}, 1024),
          board_(board),
          next_(std::move(next)) {}

protected:
    void onByte(uint8_t byte) override {
        XmodemSenderPeer::onByte(byte);
        if (finished() && !typed_) {
            typed_ = true;
            for (const std::string& line : next_) {
                board_.type(line);
            }
        }
    }

private:
    TestBoard& board_;
    std::vector<std::string> next_;
    bool typed_ = false;
};

}  // namespace testing_support
