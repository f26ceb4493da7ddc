// Boards with operational code planted on a freshly formatted volume, and a
// board that boots into the Boot Menu with it.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "support/boot_spine_images.h"
#include "support/boot_texts.h"
#include "support/loader_on_board.h"
#include "support/test_board.h"

namespace testing_support::boot {

// "image1" is the active image, "image2" the backup where there is one.
enum class Code { None, Good, GoodWithBackup, GoodWithBadBackup, BadWithGoodBackup };

// Formats the volume and plants the images and the directory naming them.
inline void plantCode(TestBoard& board, Code code) {
    board.formatVolume();
    switch (code) {
        case Code::None:
            return;
        case Code::Good:
            board.writeFile("image1", goodImage());
            board.writeFile("boot.dim", DEFAULT_DIM);
            return;
        case Code::GoodWithBackup:
            board.writeFile("image1", goodImage({.codeSeed = 1}));
            board.writeFile("image2", goodImage({.codeSeed = 2, .timestamp = "backup"}));
            break;
        case Code::GoodWithBadBackup:
            board.writeFile("image1", goodImage());
            board.writeFile("image2", "damaged");
            break;
        case Code::BadWithGoodBackup:
            board.writeFile("image1", "damaged");
            board.writeFile("image2", goodImage({.timestamp = "backup code"}));
            break;
    }
    board.writeFile("boot.dim", TWO_IMAGES);
}

// A board that boots into the menu. With good code the operator answers
// the two-second choice with 2 first.
class MenuBoard {
public:
    using Code = boot::Code;

    explicit MenuBoard(Code code) {
        plantCode(board, code);
        if (code != Code::None) {
            board.type("2");
        }
    }

    // Types the lines in turn and boots; the exit status.
    int run(const std::vector<std::string>& lines) {
        board.typeLines(lines);
        return board.run();
    }
    // Everything from the first option list on, CRs taken out.
    std::string menuText() {
        return fromMark(plainText(board.output()), OPTION_LIST);
    }
    // What the menu showed after the option list, up to the end.
    std::string afterList() { return menuText().substr(OPTION_LIST.size()); }
    bool handedOver() { return board.board().core().handoverCount() > 0; }

    TestBoard board;
};

}  // namespace testing_support::boot
