// The shell-style commands of the operating system that the menus use:
// cd with its error report, printing the current directory, and a
// recursive long listing.
#pragma once

namespace swboot {

class Loader;

class Shell {
public:
    explicit Shell(Loader& loader) : loader_(loader) {}

    // Changes directory; prints "cd: error = %#x.\n" on failure. OK or ERROR.
    int cd(const char* name);
    // Prints the current directory and a line end.
    void pwd();
    // Long listing of a directory and everything below it.
    void llr(const char* name);

private:
    void listDirectory(const char* path, int depth);

    Loader& loader_;
};

}  // namespace swboot
