// The Boot Menu on the serial console.
#pragma once

namespace swboot {

class Loader;

class BootMenu {
public:
    explicit BootMenu(Loader& loader) : loader_(loader) {}

    // Serves the menu; returns only when the board powers off (never on the
    // board itself).
    void bootMenuRun(int codeInvalid);
    // Deletes the configuration files of the operational code in the
    // current directory.
    void factoryDefaultsRestore();

private:
    void optionList();
    void choice(unsigned number, int& codeInvalid);

    Loader& loader_;
};

}  // namespace swboot
