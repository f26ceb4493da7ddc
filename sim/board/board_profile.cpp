#include "board/board_profile.h"

#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
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

[flash]
# Units (256 KiB, 0 at 0xFE000000, 124-127 the boot code) whose lock bits are
# set when the board leaves the factory: "all", "none" or a list of units.
factory_locked = "all"
# Injected faults (none on this board):
# stuck_bits = [{ address = 0xFE040014, mask = 0x00000001, value = 1 }]
# erase_fails = [3]     # erase of these units ends with an erase error
# never_ready = [5]     # erase or program there never finishes
# vpp_low = true        # every program, erase and lock-bit change fails

[vpd]
mac_address = "00:06:29:32:81:40"
serial_number = "SIM0000001"
date_code = "102006"
part_number = "10K7901"
revision = "A"

# The I2C bus, behind the CPLD's multiplexer.
[i2c]
no_acknowledge = []      # devices that never acknowledge (fault injection), e.g. ["LM75A"]
bus_held_busy = false    # fault injection: the bus never becomes idle

[i2c.eeprom]
text = "48-port board"   # board EEPROM (0x51): these bytes first, the rest 0xff

[i2c.rtc]                # DS1340 (0x68); its time is kept in the state directory
present = true
oscillator_stopped = false

[[i2c.sensor]]           # LM75 sensors: CPU 0x49, LM75 0x4b, LM75A 0x4d, LM75B 0x4e
name = "CPU"
celsius = 38.5

[[i2c.sensor]]
name = "LM75A"
celsius = 41.0

[[i2c.sensor]]
name = "LM75B"
celsius = 43.5

[[i2c.module]]           # pluggable modules: SFP1..4, XFP1..4, SFP-Fiber1..24
slot = "SFP1"
kind = "sfp"
vendor = "SIMOPTICS"
part_number = "SO-SFP-SX"
serial_number = "SO00012345"
revision = "A"
date_code = "060915"
bit_rate = 12            # SFP nominal bit rate code (100 Mbd units)
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

// The node's value when it is an integer. Only integer nodes are read:
// asking toml++ for an integer from a float converts it, which is undefined
// for a float beyond the integer's range ("vendor = 8.9e126").
std::optional<int64_t> integerOf(const toml::node& node) {
    const toml::value<int64_t>* value = node.as_integer();
    return value != nullptr ? std::optional<int64_t>(value->get()) : std::nullopt;
}

int64_t integer(const toml::table& table, const char* key, int64_t min, int64_t max, int64_t fallback,
                const std::string& origin) {
    const toml::node* node = table.get(key);
    if (node == nullptr) {
        return fallback;
    }
    const std::optional<int64_t> value = integerOf(*node);
    if (!value) {
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

bool flag(const toml::table& table, const char* key, bool fallback, const std::string& origin) {
    const toml::node* node = table.get(key);
    if (node == nullptr) {
        return fallback;
    }
    if (!node->is_boolean()) {
        throw std::runtime_error(where(*node, origin) + ": '" + key + "' must be true or false");
    }
    return *node->value<bool>();
}

double number(const toml::table& table, const char* key, double min, double max, double fallback,
              const std::string& origin) {
    const toml::node* node = table.get(key);
    if (node == nullptr) {
        return fallback;
    }
    auto value = node->value<double>();
    if (!value || !(node->is_floating_point() || node->is_integer())) {
        throw std::runtime_error(where(*node, origin) + ": '" + key + "' must be a number");
    }
    // Written so that nan is out of range too.
    if (!(*value >= min && *value <= max)) {
        throw std::runtime_error(where(*node, origin) + ": '" + key + "' is out of range");
    }
    return *value;
}

const toml::table* section(const toml::table& root, const char* name, const std::string& origin);

// Each table of an array of tables ([[name]]) in a section.
std::vector<const toml::table*> tables(const toml::table& parent, const char* name, const std::string& origin) {
    std::vector<const toml::table*> list;
    const toml::node* node = parent.get(name);
    if (node == nullptr) {
        return list;
    }
    const toml::array* array = node->as_array();
    if (array == nullptr) {
        throw std::runtime_error(where(*node, origin) + ": '" + name + "' must be an array of tables");
    }
    for (const toml::node& entry : *array) {
        if (!entry.is_table()) {
            throw std::runtime_error(where(entry, origin) + ": each '" + name + "' entry must be a table");
        }
        list.push_back(entry.as_table());
    }
    return list;
}

void parseI2c(const toml::table& i2c, I2cProfile& profile, const std::string& origin) {
    checkKeys(i2c, {"no_acknowledge", "bus_held_busy", "eeprom", "rtc", "sensor", "module"}, "[i2c]", origin);
    profile = I2cProfile{};
    profile.busHeldBusy = flag(i2c, "bus_held_busy", false, origin);
    std::set<std::string> used;
    auto place = [&](const std::string& name, const toml::node& node) {
        I2cPlace p;
        if (!i2cPlaceOf(name, p)) {
            throw std::runtime_error(where(node, origin) + ": no I2C device or slot is called '" + name + "'");
        }
        if (!used.insert(name).second) {
            throw std::runtime_error(where(node, origin) + ": '" + name + "' is on the bus twice");
        }
    };
    if (const toml::node* list = i2c.get("no_acknowledge")) {
        const toml::array* names = list->as_array();
        if (names == nullptr) {
            throw std::runtime_error(where(*list, origin) + ": 'no_acknowledge' must be a list of device names");
        }
        for (const toml::node& name : *names) {
            I2cPlace p;
            if (!name.is_string() || !i2cPlaceOf(*name.value<std::string>(), p)) {
                throw std::runtime_error(where(name, origin) + ": 'no_acknowledge' names an unknown device");
            }
            profile.noAcknowledge.push_back(*name.value<std::string>());
        }
    }
    if (const toml::table* eeprom = section(i2c, "eeprom", origin)) {
        checkKeys(*eeprom, {"text"}, "[i2c.eeprom]", origin);
        profile.eepromText = text(*eeprom, "text", "", origin);
        if (profile.eepromText.size() > 256) {
            throw std::runtime_error(where(*eeprom, origin) + ": the EEPROM holds 256 bytes");
        }
        used.insert("EEPROM");
    }
    if (const toml::table* rtc = section(i2c, "rtc", origin)) {
        checkKeys(*rtc, {"present", "oscillator_stopped"}, "[i2c.rtc]", origin);
        profile.rtcPresent = flag(*rtc, "present", true, origin);
        profile.rtcOscillatorStopped = flag(*rtc, "oscillator_stopped", false, origin);
    }
    used.insert("RTC");
    for (const toml::table* t : tables(i2c, "sensor", origin)) {
        checkKeys(*t, {"name", "celsius"}, "[[i2c.sensor]]", origin);
        SensorProfile sensor;
        sensor.name = text(*t, "name", "", origin);
        if (sensor.name != "CPU" && sensor.name != "LM75" && sensor.name != "LM75A" && sensor.name != "LM75B") {
            throw std::runtime_error(where(*t, origin) + ": a sensor is CPU, LM75, LM75A or LM75B, not '" +
                                     sensor.name + "'");
        }
        place(sensor.name, *t);
        sensor.celsius = number(*t, "celsius", -55.0, 125.0, 25.0, origin);
        profile.sensors.push_back(sensor);
    }
    for (const toml::table* t : tables(i2c, "module", origin)) {
        checkKeys(*t,
                  {"slot", "kind", "vendor", "part_number", "serial_number", "revision", "date_code", "bit_rate",
                   "celsius"},
                  "[[i2c.module]]", origin);
        ModuleProfile module;
        module.slot = text(*t, "slot", "", origin);
        bool fiberSlot = module.slot.rfind("SFP-Fiber", 0) == 0 && module.slot.find("-MII") == std::string::npos;
        bool sfpSlot = module.slot.size() == 4 && module.slot.rfind("SFP", 0) == 0;
        bool xfpSlot = module.slot.size() == 4 && module.slot.rfind("XFP", 0) == 0;
        if (!fiberSlot && !sfpSlot && !xfpSlot) {
            throw std::runtime_error(where(*t, origin) + ": '" + module.slot +
                                     "' is not a module slot (SFP1..4, XFP1..4, SFP-Fiber1..24)");
        }
        place(module.slot, *t);
        std::string kind = text(*t, "kind", xfpSlot ? "xfp" : "sfp", origin);
        if (kind != "sfp" && kind != "xfp") {
            throw std::runtime_error(where(*t, origin) + ": a module's kind is \"sfp\" or \"xfp\"");
        }
        module.kind = kind == "xfp" ? ModuleKind::Xfp : ModuleKind::Sfp;
        ModuleIdentity& id = module.identity;
        id.vendor = text(*t, "vendor", "", origin);
        id.partNumber = text(*t, "part_number", "", origin);
        id.serialNumber = text(*t, "serial_number", "", origin);
        id.revision = text(*t, "revision", "", origin);
        id.dateCode = text(*t, "date_code", "", origin);
        id.bitRate = static_cast<uint8_t>(integer(*t, "bit_rate", 0, 255, id.bitRate, origin));
        id.celsius = number(*t, "celsius", -40.0, 100.0, id.celsius, origin);
        for (const std::string* field : {&id.vendor, &id.partNumber, &id.serialNumber}) {
            if (field->size() > 16) {
                throw std::runtime_error(where(*t, origin) + ": '" + *field + "' is longer than its 16-byte field");
            }
        }
        profile.modules.push_back(module);
    }
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

uint32_t unitNumber(const toml::node& node, const std::string& origin, const char* key) {
    const std::optional<int64_t> value = integerOf(node);
    if (!value || *value < 0 || *value >= StrataFlashConfig::UNITS) {
        throw std::runtime_error(where(node, origin) + ": '" + key + "' lists flash units, numbers 0 to " +
                                 std::to_string(StrataFlashConfig::UNITS - 1));
    }
    return static_cast<uint32_t>(*value);
}

std::vector<uint32_t> unitList(const toml::table& table, const char* key, const std::string& origin) {
    std::vector<uint32_t> units;
    const toml::node* node = table.get(key);
    if (node == nullptr) {
        return units;
    }
    const toml::array* list = node->as_array();
    if (list == nullptr) {
        throw std::runtime_error(where(*node, origin) + ": '" + key + "' must be a list of unit numbers");
    }
    for (const toml::node& entry : *list) {
        units.push_back(unitNumber(entry, origin, key));
    }
    return units;
}

void flashParse(const toml::table& flash, const std::string& origin, StrataFlashConfig& config) {
    checkKeys(flash, {"factory_locked", "stuck_bits", "erase_fails", "never_ready", "vpp_low"}, "[flash]", origin);
    if (const toml::node* locked = flash.get("factory_locked")) {
        if (locked->is_string()) {
            std::string which = *locked->value<std::string>();
            if (which == "all") {
                config.factoryLocked.set();
            } else if (which == "none") {
                config.factoryLocked.reset();
            } else {
                throw std::runtime_error(where(*locked, origin) +
                                         ": 'factory_locked' is \"all\", \"none\" or a list of units");
            }
        } else {
            config.factoryLocked.reset();
            for (uint32_t unit : unitList(flash, "factory_locked", origin)) {
                config.factoryLocked.set(unit);
            }
        }
    }
    for (uint32_t unit : unitList(flash, "erase_fails", origin)) {
        config.eraseFailUnits.insert(unit);
    }
    for (uint32_t unit : unitList(flash, "never_ready", origin)) {
        config.neverReadyUnits.insert(unit);
    }
    if (const toml::node* vpp = flash.get("vpp_low")) {
        if (!vpp->is_boolean()) {
            throw std::runtime_error(where(*vpp, origin) + ": 'vpp_low' must be true or false");
        }
        config.vppLow = *vpp->value<bool>();
    }
    if (const toml::node* stuck = flash.get("stuck_bits")) {
        const toml::array* list = stuck->as_array();
        if (list == nullptr) {
            throw std::runtime_error(where(*stuck, origin) + ": 'stuck_bits' must be a list of tables");
        }
        for (const toml::node& entry : *list) {
            const toml::table* bits = entry.as_table();
            if (bits == nullptr || !bits->contains("address") || !bits->contains("mask") || !bits->contains("value")) {
                throw std::runtime_error(where(entry, origin) +
                                         ": each stuck_bits entry is { address = ..., mask = ..., value = 0 or 1 }");
            }
            checkKeys(*bits, {"address", "mask", "value"}, "stuck_bits", origin);
            StrataFlashConfig::StuckBits s;
            s.address = static_cast<uint32_t>(
                integer(*bits, "address", StrataFlash::BASE, 0xFFFFFFFC, StrataFlash::BASE, origin));
            if (s.address % 4 != 0) {
                throw std::runtime_error(where(entry, origin) + ": stuck_bits address must be a multiple of 4");
            }
            s.mask = static_cast<uint32_t>(integer(*bits, "mask", 1, 0xFFFFFFFF, 1, origin));
            s.value = integer(*bits, "value", 0, 1, 0, origin) == 1;
            config.stuckBits.push_back(s);
        }
    }
}

}  // namespace

bool i2cPlaceOf(const std::string& name, I2cPlace& place) {
    static const struct {
        const char* name;
        uint8_t address7;
    } fixed[] = {{"EEPROM", 0x51}, {"CPU", 0x49}, {"LM75", 0x4B}, {"LM75A", 0x4D}, {"LM75B", 0x4E}, {"RTC", 0x68}};
    for (const auto& f : fixed) {
        if (name == f.name) {
            place = I2cPlace{0, f.address7};
            return true;
        }
    }
    auto numbered = [&](const std::string& prefix, const std::string& suffix, int last, int& n) {
        if (name.size() <= prefix.size() + suffix.size() || name.rfind(prefix, 0) != 0 ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
            return false;
        }
        std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
        if (digits.empty() || digits.size() > 2 || digits[0] == '0' ||
            digits.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
        n = std::stoi(digits);
        return n >= 1 && n <= last;
    };
    int n = 0;
    if (numbered("SFP-Fiber", "-MII", 24, n)) {
        place = I2cPlace{static_cast<uint8_t>(7 + n), 0x56};
        return true;
    }
    if (numbered("SFP-Fiber", "", 24, n)) {
        place = I2cPlace{static_cast<uint8_t>(7 + n), 0x50};
        return true;
    }
    if (numbered("SFP", "", 4, n)) {
        place = I2cPlace{static_cast<uint8_t>(n - 1), 0x50};
        return true;
    }
    if (numbered("XFP", "", 4, n)) {
        place = I2cPlace{static_cast<uint8_t>(3 + n), 0x50};
        return true;
    }
    return false;
}

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
    checkKeys(root, {"board", "cpld", "cpu", "pci", "ram", "flash", "vpd", "i2c"}, "the profile", origin);

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
                    const std::optional<int64_t> bar = integerOf((*values)[i]);
                    if (!bar || *bar < 0 || *bar > 0xFFFFFFFF) {
                        throw std::runtime_error(where((*values)[i], origin) + ": each BAR must be a 32-bit integer");
                    }
                    fn.bars[i] = static_cast<uint32_t>(*bar);
                }
            }
            fn.name = text(*f, "name", "", origin);
            profile.pci.push_back(fn);
        }
    }
    if (const toml::table* flash = section(root, "flash", origin)) {
        flashParse(*flash, origin, profile.flash);
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
    if (const toml::table* i2c = section(root, "i2c", origin)) {
        parseI2c(*i2c, profile.i2c, origin);
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
