#include "support/test_board.h"

#include <stdexcept>

#include "host/provision.h"
#include "image/flashacc.h"
#include "platform/files.h"

namespace testing_support {

TestBoard::TestBoard(sim::BoardOptions options) {
    options.stateDir = state_.path() / "state";
    options.flashInMemory = true;
    if (options.maxPowerOns == 0) {
        options.maxPowerOns = 20;  // a boot loop in a test ends instead of hanging
    }
    diagnostics_.setQuiet(true);
    diagnostics_.setCapture(true);
    board_ = std::make_unique<sim::SimBoard>(std::move(options), clock_, line_, diagnostics_);
}

void TestBoard::type(std::string_view text) { line_.type(std::string(text) + "\r"); }

int TestBoard::run() { return board_->run(); }

std::string TestBoard::diagnosticsText() const {
    std::string text;
    for (const std::string& line : diagnostics_.captured()) {
        text += line + "\n";
    }
    return text;
}

void TestBoard::formatVolume() {
    sim::HostVolume& volume = board_->volume();
    swboot::TffsFormatParams params;
    if (volume.tffsDevFormat(0, params) != 0 || volume.usrTffsConfig(0, 0, "/DskVol/") != 0) {
        throw std::runtime_error("cannot format the test volume");
    }
    volume.mkdir("/DskVol/files");
    volume.powerUp();
    auto record = sim::vpdRecord(board_->options().profile);
    writeFile("vpd.bin", std::vector<uint8_t>(record.begin(), record.end()));
}

void TestBoard::typeVpdAnswers() {
    for (const char* answer : VPD_ANSWERS) {
        type(answer);
    }
}

std::filesystem::path TestBoard::filePath(const std::string& name) {
    return board_->volume().hostRoot() / "files" / name;
}

void TestBoard::writeFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    interop::writeHostFile(filePath(name), bytes);
}

void TestBoard::writeFile(const std::string& name, std::string_view text) {
    writeFile(name, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> TestBoard::readFile(const std::string& name) {
    if (!fileExists(name)) {
        throw std::runtime_error("no file " + name + " on the volume");
    }
    return interop::readHostFile(filePath(name));
}

std::string TestBoard::readText(const std::string& name) {
    std::vector<uint8_t> bytes = readFile(name);
    return std::string(bytes.begin(), bytes.end());
}

bool TestBoard::fileExists(const std::string& name) { return std::filesystem::exists(filePath(name)); }

std::vector<uint8_t> TestBoard::bootCodeRegion() {
    auto cells = board_->flashCells().view(swboot::BOOT_FLASH_BASE - swboot::FLASH_BASE, swboot::BOOT_FLASH_SIZE);
    return {cells.begin(), cells.end()};
}

std::string fromMark(const std::string& text, const std::string& mark) {
    size_t at = text.find(mark);
    return at == std::string::npos ? "(\"" + mark + "\" not in: " + text + ")" : text.substr(at);
}

size_t countOf(const std::string& text, std::string_view part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

}  // namespace testing_support
