#include "board/board_profile.h"

#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

#include <toml++/toml.h>

#include "platform/cpu.h"

namespace sim {

namespace {

const char DEFAULT_PROFILE[] = R"(# Stackable switch, 48-port board: two switch chips on PCI.
[board]
name = "48-port"
description = "48-port copper board with two switch chips"

[cpld]
fan_status = 0x3f        # fans 0..5 working
module_type = 0x77       # both slots: no module type
module_presence = 0x03   # both slots empty
board_type = 0x00        # AC, no PoE
board_revision = 0x01    # revision B
pld_revision = 3

[cpu]
msr = 0x00029000         # CE, EE, ME
hid0 = 0x00004000
hid1 = 0x00000000
l1csr0 = 0x00000001
l1csr1 = 0x00000001
l1cfg0 = 0x08382020
l1cfg1 = 0x00382020
ccb_ratio = 5            # PLL status: CCB = 5 x 66.666666 MHz = 333.333330 MHz
core_ratio = 5           # PLL status: core = 5/2 x CCB = 833.333325 MHz
l2ctl = 0xa8000000       # L2 enabled, 256 KiB
l2srbar0 = 0x00000000
l2srbar1 = 0x00000000

[[pci]]
bus = 0
device = 0
vendor = 0x1057
device_id = 0x000c
class = 0x0b2000
revision = 0x11
bars = [0xf0000000]      # the processor's register block seen from PCI
subsystem_vendor = 0x1057
subsystem_id = 0x000c
name = "host bridge"

[[pci]]
bus = 0
device = 2
vendor = 0x14e4
device_id = 0xb504
class = 0x020000
revision = 0x12
bars = [0x80000000]      # 64 KiB of switch registers
subsystem_vendor = 0x14e4
subsystem_id = 0xb504
interrupt_line = 2
interrupt_pin = 1        # INTA
name = "switch chip 0"

[[pci]]
bus = 0
device = 3
vendor = 0x14e4
device_id = 0xb504
class = 0x020000
revision = 0x12
bars = [0x80010000]
subsystem_vendor = 0x14e4
subsystem_id = 0xb504
interrupt_line = 3
interrupt_pin = 1
name = "switch chip 1"

[vpd]
mac_address = "00:06:29:32:81:40"
serial_number = "SIM0000001"
date_code = "102006"
part_number = "10K7901"
revision = "A"
)";

std::string where(const toml::node& node, const std::string& origin) {
    std::ostringstream out;
    out << origin;
    const auto& source = node.source();
    if (source.begin.line != 0) {
        out << ":" << source.begin.line;
    }
    return out.str();
}

void checkKeys(const toml::table& table, const std::set<std::string>& allowed, const std::string& section,
               const std::string& origin) {
    for (const auto& [key, value] : table) {
        if (!allowed.count(std::string(key.str()))) {
            throw std::runtime_error(where(value, origin) + ": unknown key '" + std::string(key.str()) + "' in " +
                                     section);
        }
    }
}

int64_t integer(const toml::table& table, const char* key, int64_t min, int64_t max, int64_t fallback,
                const std::string& origin) {
    const toml::node* node = table.get(key);
    if (node == nullptr) {
        return fallback;
    }
    auto value = node->value<int64_t>();
    if (!value || !node->is_integer()) {
        throw std::runtime_error(where(*node, origin) + ": '" + key + "' must be an integer");
    }
    if (*value < min || *value > max) {
        throw std::runtime_error(where(*node, origin) + ": '" + key + "' is out of range");
    }
    return *value;
}

std::string text(const toml::table& table, const char* key, const std::string& fallback, const std::string& origin) {
    const toml::node* node = table.get(key);
    if (node == nullptr) {
        return fallback;
    }
    if (!node->is_string()) {
        throw std::runtime_error(where(*node, origin) + ": '" + key + "' must be a string");
    }
    return *node->value<std::string>();
}

const toml::table* section(const toml::table& root, const char* name, const std::string& origin) {
    const toml::node* node = root.get(name);
    if (node == nullptr) {
        return nullptr;
    }
    if (!node->is_table()) {
        throw std::runtime_error(where(*node, origin) + ": '" + name + "' must be a table");
    }
    return node->as_table();
}

}  // namespace

const char* BoardProfile::defaultText() { return DEFAULT_PROFILE; }

BoardProfile BoardProfile::parse(const std::string& textIn, const std::string& origin) {
    toml::table root;
    try {
        root = toml::parse(textIn, origin);
    } catch (const toml::parse_error& e) {
        std::ostringstream out;
        out << origin << ":" << e.source().begin.line << ": " << e.description();
        throw std::runtime_error(out.str());
    }
    checkKeys(root, {"board", "cpld", "cpu", "pci", "ram", "vpd"}, "the profile", origin);

    BoardProfile profile;
    if (const toml::table* board = section(root, "board", origin)) {
        checkKeys(*board, {"name", "description"}, "[board]", origin);
        profile.name = text(*board, "name", "", origin);
        profile.description = text(*board, "description", "", origin);
    }
    if (const toml::table* cpld = section(root, "cpld", origin)) {
        checkKeys(*cpld,
                  {"fan_status", "module_type", "module_presence", "board_type", "board_revision", "pld_revision"},
                  "[cpld]", origin);
        Cpld::Identity& id = profile.cpld;
        id.fanStatus = static_cast<uint8_t>(integer(*cpld, "fan_status", 0, 255, id.fanStatus, origin));
        id.moduleType = static_cast<uint8_t>(integer(*cpld, "module_type", 0, 255, id.moduleType, origin));
        id.modulePresence =
            static_cast<uint8_t>(integer(*cpld, "module_presence", 0, 255, id.modulePresence, origin));
        id.boardType = static_cast<uint8_t>(integer(*cpld, "board_type", 0, 255, id.boardType, origin));
        id.boardRevision = static_cast<uint8_t>(integer(*cpld, "board_revision", 0, 255, id.boardRevision, origin));
        id.pldRevision = static_cast<uint8_t>(integer(*cpld, "pld_revision", 0, 255, id.pldRevision, origin));
    }
    if (const toml::table* cpu = section(root, "cpu", origin)) {
        checkKeys(*cpu,
                  {"msr", "hid0", "hid1", "l1csr0", "l1csr1", "l1cfg0", "l1cfg1", "ccb_ratio", "core_ratio", "l2ctl",
                   "l2srbar0", "l2srbar1"},
                  "[cpu]", origin);
        const int64_t max = 0xFFFFFFFF;
        Mpc85xxCcsr::Values& soc = profile.soc;
        soc.platformRatio = static_cast<uint32_t>(
            integer(*cpu, "ccb_ratio", 0, Mpc85xxCcsr::PLAT_RATIO_MASK, soc.platformRatio, origin));
        soc.coreRatio =
            static_cast<uint32_t>(integer(*cpu, "core_ratio", 0, Mpc85xxCcsr::CORE_RATIO_MASK, soc.coreRatio, origin));
        soc.l2ctl = static_cast<uint32_t>(integer(*cpu, "l2ctl", 0, max, soc.l2ctl, origin));
        soc.l2srbar0 = static_cast<uint32_t>(integer(*cpu, "l2srbar0", 0, max, soc.l2srbar0, origin));
        soc.l2srbar1 = static_cast<uint32_t>(integer(*cpu, "l2srbar1", 0, max, soc.l2srbar1, origin));
        profile.cpu.msr = static_cast<uint32_t>(integer(*cpu, "msr", 0, max, profile.cpu.msr, origin));
        const struct {
            const char* key;
            int spr;
        } sprs[] = {{"hid0", swboot::SPR_HID0},     {"hid1", swboot::SPR_HID1},     {"l1csr0", swboot::SPR_L1CSR0},
                    {"l1csr1", swboot::SPR_L1CSR1}, {"l1cfg0", swboot::SPR_L1CFG0}, {"l1cfg1", swboot::SPR_L1CFG1}};
        for (const auto& s : sprs) {
            profile.cpu.spr[s.spr] = static_cast<uint32_t>(integer(*cpu, s.key, 0, max, 0, origin));
        }
    }
    if (const toml::node* pci = root.get("pci")) {
        const toml::array* list = pci->as_array();
        if (list == nullptr) {
            throw std::runtime_error(where(*pci, origin) + ": 'pci' must be an array of tables ([[pci]])");
        }
        for (const toml::node& entry : *list) {
            const toml::table* f = entry.as_table();
            if (f == nullptr) {
                throw std::runtime_error(where(entry, origin) + ": each [[pci]] entry must be a table");
            }
            checkKeys(*f,
                      {"bus", "device", "function", "vendor", "device_id", "class", "revision", "bars",
                       "subsystem_vendor", "subsystem_id", "interrupt_line", "interrupt_pin", "name"},
                      "[[pci]]", origin);
            if (!f->contains("vendor") || !f->contains("device_id")) {
                throw std::runtime_error(where(entry, origin) + ": a [[pci]] entry needs 'vendor' and 'device_id'");
            }
            PciSpace::Function fn;
            fn.bus = static_cast<int>(integer(*f, "bus", 0, 255, 0, origin));
            fn.device = static_cast<int>(integer(*f, "device", 0, 31, 0, origin));
            fn.function = static_cast<int>(integer(*f, "function", 0, 7, 0, origin));
            fn.vendorId = static_cast<uint16_t>(integer(*f, "vendor", 0, 0xFFFE, 0, origin));
            fn.deviceId = static_cast<uint16_t>(integer(*f, "device_id", 0, 0xFFFF, 0, origin));
            fn.classCode = static_cast<uint32_t>(integer(*f, "class", 0, 0xFFFFFF, 0, origin));
            fn.revision = static_cast<uint8_t>(integer(*f, "revision", 0, 255, 0, origin));
            fn.subsystemVendorId = static_cast<uint16_t>(integer(*f, "subsystem_vendor", 0, 0xFFFF, 0, origin));
            fn.subsystemId = static_cast<uint16_t>(integer(*f, "subsystem_id", 0, 0xFFFF, 0, origin));
            fn.interruptLine = static_cast<uint8_t>(integer(*f, "interrupt_line", 0, 255, fn.interruptLine, origin));
            fn.interruptPin = static_cast<uint8_t>(integer(*f, "interrupt_pin", 0, 4, 0, origin));
            if (const toml::node* bars = f->get("bars")) {
                const toml::array* values = bars->as_array();
                if (values == nullptr || values->size() > fn.bars.size()) {
                    throw std::runtime_error(where(*bars, origin) + ": 'bars' must be a list of at most 6 integers");
                }
                for (size_t i = 0; i < values->size(); ++i) {
                    auto bar = (*values)[i].value<int64_t>();
                    if (!(*values)[i].is_integer() || !bar || *bar < 0 || *bar > 0xFFFFFFFF) {
                        throw std::runtime_error(where((*values)[i], origin) + ": each BAR must be a 32-bit integer");
                    }
                    fn.bars[i] = static_cast<uint32_t>(*bar);
                }
            }
            fn.name = text(*f, "name", "", origin);
            profile.pci.push_back(fn);
        }
    }
    if (const toml::table* ram = section(root, "ram", origin)) {
        checkKeys(*ram, {"fault"}, "[ram]", origin);
        const toml::array* list = ram->get("fault") ? ram->get("fault")->as_array() : nullptr;
        if (ram->get("fault") && list == nullptr) {
            throw std::runtime_error(where(*ram->get("fault"), origin) + ": faults are [[ram.fault]] tables");
        }
        for (size_t i = 0; list && i < list->size(); ++i) {
            const toml::table* f = (*list)[i].as_table();
            if (f == nullptr) {
                throw std::runtime_error(where((*list)[i], origin) + ": each [[ram.fault]] entry must be a table");
            }
            checkKeys(*f, {"kind", "address", "bit", "level", "line", "to"}, "[[ram.fault]]", origin);
            Ram::Fault fault;
            const std::string kind = text(*f, "kind", "", origin);
            if (kind == "stuck_bit") {
                fault.kind = Ram::Fault::Kind::StuckBit;
                fault.address = static_cast<uint32_t>(integer(*f, "address", 0, Ram::SIZE - 4, 0, origin));
                fault.bit = static_cast<int>(integer(*f, "bit", 0, 31, 0, origin));
                fault.level = static_cast<int>(integer(*f, "level", 0, 1, 1, origin));
                if (fault.address % 4 != 0) {
                    throw std::runtime_error(where(*f, origin) + ": a stuck bit's address must be a word address");
                }
            } else if (kind == "address_line_open" || kind == "address_line_shorted") {
                const bool shorted = kind == "address_line_shorted";
                fault.kind = shorted ? Ram::Fault::Kind::AddressLineShorted : Ram::Fault::Kind::AddressLineOpen;
                fault.line = static_cast<int>(
                    integer(*f, "line", Ram::ADDRESS_LINE_FIRST, Ram::ADDRESS_LINE_LAST, -1, origin));
                if (fault.line < 0) {
                    throw std::runtime_error(where(*f, origin) + ": an address line fault needs 'line'");
                }
                if (shorted) {
                    fault.to = static_cast<int>(
                        integer(*f, "to", Ram::ADDRESS_LINE_FIRST, Ram::ADDRESS_LINE_LAST, -1, origin));
                    if (fault.to < 0 || fault.to == fault.line) {
                        throw std::runtime_error(where(*f, origin) + ": a shorted line needs 'to', another line");
                    }
                }
            } else {
                throw std::runtime_error(where(*f, origin) +
                                         ": 'kind' must be stuck_bit, address_line_open or address_line_shorted");
            }
            profile.ramFaults.push_back(fault);
        }
    }
    if (const toml::table* vpd = section(root, "vpd", origin)) {
        checkKeys(*vpd, {"mac_address", "serial_number", "date_code", "part_number", "revision"}, "[vpd]", origin);
        VpdValues& v = profile.vpd;
        v.macAddress = text(*vpd, "mac_address", v.macAddress, origin);
        v.serialNumber = text(*vpd, "serial_number", v.serialNumber, origin);
        v.dateCode = text(*vpd, "date_code", v.dateCode, origin);
        v.partNumber = text(*vpd, "part_number", v.partNumber, origin);
        v.revision = text(*vpd, "revision", v.revision, origin);
    }
    // Catch duplicate or misplaced PCI functions now, with the profile's name.
    try {
        PciSpace check(profile.pci);
    } catch (const std::invalid_argument& e) {
        throw std::runtime_error(origin + ": " + e.what());
    }
    return profile;
}

BoardProfile BoardProfile::load(const std::filesystem::path& file) {
    std::ifstream in(file);
    if (!in) {
        throw std::runtime_error("cannot read the board profile " + file.string());
    }
    std::ostringstream content;
    content << in.rdbuf();
    return parse(content.str(), file.string());
}

BoardProfile BoardProfile::builtin() { return parse(DEFAULT_PROFILE, "(built-in 48-port profile)"); }

}  // namespace sim
