// A simulated board for tests: virtual time, a scripted console, the flash
// array in memory and the volume in a fresh temporary directory that is
// removed afterwards.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "harness/files.h"
#include "host/diagnostics.h"
#include "host/scripted_line.h"
#include "host/sim_board.h"
#include "host/sim_clock.h"

namespace testing_support {

// A fresh temporary directory, removed with everything in it.
using TempDir = interop::ScratchDir;

// MAC address, serial number, date code, part number and revision.
inline constexpr const char* VPD_ANSWERS[] = {"000629328140", "SIM0000001", "102006", "10K7901", "A"};

class TestBoard {
public:
    explicit TestBoard(sim::BoardOptions options = {});
    // What the board does when the loader hands over to the code.
    explicit TestBoard(sim::OnHandover onHandover) : TestBoard(sim::BoardOptions{.onHandover = onHandover}) {}

    sim::SimBoard& board() { return *board_; }
    sim::ScriptedLine& line() { return line_; }
    sim::VirtualClock& clock() { return clock_; }
    sim::HostVolume& volume() { return board_->volume(); }

    // One line typed by the operator, Enter included (a carriage return, as
    // a terminal sends it).
    void type(std::string_view text);
    // Lines typed in turn, each with its Enter.
    void typeLines(const std::vector<std::string>& lines) {
        for (const std::string& text : lines) {
            type(text);
        }
    }

    // Runs the board until it powers off (the script ran out, a halt, a
    // hand-over that exits); the simulator's exit status.
    int run();
    const std::string& output() const { return line_.output(); }
    std::vector<std::string> diagnostics() const { return diagnostics_.captured(); }
    std::string diagnosticsText() const;

    // The volume as a provisioned board has it: freshly formatted, with
    // "files/" and the profile's "vpd.bin", for planting files before the
    // board first powers on.
    void formatVolume();
    // Types the answers a blank board's VPD generator asks for at its
    // first start (VPD_ANSWERS).
    void typeVpdAnswers();
    void writeFile(const std::string& name, const std::vector<uint8_t>& bytes);
    void writeFile(const std::string& name, std::string_view text);
    std::vector<uint8_t> readFile(const std::string& name);
    std::string readText(const std::string& name);
    bool fileExists(const std::string& name);
    // interop::imageFilesIn "files/".
    std::map<std::string, std::vector<uint8_t>> imageFiles() { return interop::imageFilesIn(filePath("")); }
    // Host path of a file in "files/" on the volume.
    std::filesystem::path filePath(const std::string& name);
    // The cells of the boot code region, the top 1 MiB of the flash.
    std::vector<uint8_t> bootCodeRegion();

private:
    TempDir state_;
    sim::VirtualClock clock_;
    sim::ScriptedLine line_{clock_};
    sim::Diagnostics diagnostics_;
    std::unique_ptr<sim::SimBoard> board_;
};

// Calls back with each piece of text the board sends on a test board's
// line, for scenarios that act the moment the board shows something.
class OnSent : public sim::ScriptedLine::Peer {
public:
    using Callback = std::function<void(sim::ScriptedLine& line, std::string_view text)>;
    OnSent(TestBoard& board, Callback callback) : line_(board.line()), callback_(std::move(callback)) {
        line_.setPeer(this);
    }
    ~OnSent() override { line_.setPeer(nullptr); }
    void transmitted(sim::ScriptedLine& line, const uint8_t* data, size_t length) override {
        callback_(line, std::string_view(reinterpret_cast<const char*>(data), length));
    }

private:
    sim::ScriptedLine& line_;
    Callback callback_;
};

// Counts the occurrences of a text.
size_t countOf(const std::string& text, std::string_view part);
// The text from the first occurrence of the mark on, or a note that names
// the missing mark (which no expected text matches).
std::string fromMark(const std::string& text, const std::string& mark);

}  // namespace testing_support
