// Console prompts and input: menu numbers, yes/no answers, line cleaning
// and the baud-rate dialogue.
#pragma once

#include <cstddef>
#include <cstdint>

namespace swboot {

class Loader;

inline constexpr size_t CONSOLE_LINE_SIZE = 80;
inline constexpr uint8_t MENU_CHOICE_LIST = 99;
inline constexpr char BACKSPACE = 0x08;

class ConsoleInput {
public:
    explicit ConsoleInput(Loader& loader) : loader_(loader) {}

    // A menu number 0..255 (the low 8 bits of the decimal value typed), or
    // 99 for a line starting with "?". Reads until a line arrives.
    uint8_t menuNumberRead();
    // A count read as menuNumberRead reads a menu number, for questions
    // where taking a slip of the keyboard for 0 would do harm: false when
    // the cleaned line is not a decimal number ("?", letters, an empty
    // line, digits followed by anything but blanks).
    bool menuCountRead(uint8_t& count);
    // The first character of the cleaned answer; 0 for an empty line or
    // when nothing could be read.
    char menuAnswerRead();
    // Applies the backspaces of a raw line: each removes the character
    // written before it; one with nothing before it is kept.
    static void consoleLineClean(const char* raw, char* clean);
    // Boot Menu option 2.
    void baudRateMenu();

private:
    // Clears both buffers and reads a line into raw, as long as it takes.
    void lineAwait(char* raw, char* clean);

    Loader& loader_;
};

}  // namespace swboot
