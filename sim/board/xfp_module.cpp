#include "board/xfp_module.h"

namespace sim {

namespace {

constexpr size_t TEXT_FIELD = 16;
constexpr size_t REVISION_FIELD = 2;
constexpr size_t DATE_FIELD = 8;
constexpr size_t UPPER_FIRST = 128;

}  // namespace

ModulePage XfpModule::serialIdView(const ModuleIdentity& identity) {
    ModulePage page{};
    page[IDENTIFIER] = IDENTIFIER_XFP;
    page[TABLE_SELECT] = SERIAL_ID_TABLE;
    page[UPPER_IDENTIFIER] = IDENTIFIER_XFP;
    page[CONNECTOR] = CONNECTOR_LC;
    modulePutText(page, VENDOR_NAME, TEXT_FIELD, identity.vendor);
    // The vendor OUI stays all zero: unspecified.
    modulePutText(page, VENDOR_PART_NUMBER, TEXT_FIELD, identity.partNumber);
    modulePutText(page, VENDOR_REVISION, REVISION_FIELD, identity.revision);
    page[CHECK_BASE] = moduleCheckCode(page, UPPER_FIRST, CHECK_BASE - 1);
    modulePutText(page, VENDOR_SERIAL_NUMBER, TEXT_FIELD, identity.serialNumber);
    modulePutText(page, DATE_CODE, DATE_FIELD, identity.dateCode);
    page[CHECK_EXTENDED] = moduleCheckCode(page, CHECK_BASE + 1, CHECK_EXTENDED - 1);
    return page;
}

XfpModule::XfpModule(const ModuleIdentity& identity) : view_(serialIdView(identity)) {}

bool XfpModule::addressed(bool read) {
    pointerNext_ = !read;
    return true;
}

bool XfpModule::write(uint8_t byte) {
    if (pointerNext_) {
        pointer_ = byte;
        pointerNext_ = false;
        return true;
    }
    if (pointer_ == TABLE_SELECT) {
        tableSelect_ = byte;
    }
    ++pointer_;
    return true;
}

uint8_t XfpModule::read(bool) {
    uint8_t at = pointer_++;
    if (at == TABLE_SELECT) {
        return tableSelect_;
    }
    if (at >= UPPER_FIRST && tableSelect_ != SERIAL_ID_TABLE) {
        return 0;
    }
    return view_[at];
}

}  // namespace sim
