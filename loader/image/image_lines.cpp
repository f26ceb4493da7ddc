#include "image/image_lines.h"

namespace swboot {

namespace {

bool asciiLetter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

void imageHeaderFieldLines(const ImageHeader& h, bool withBootCode, TextSink& out) {
    const size_t code = COMPONENT_OPERATIONAL_CODE;
    const size_t boot = COMPONENT_BOOT_CODE;
    out.printf("CRC............................................0x%x (%d)\n", h.crc(), h.crc());
    out.printf("Target Device..................................0x%08x\n", h.targetDevice());
    out.printf("Size...........................................0x%x (%d)\n", h.size(),
               static_cast<int>(h.size()));
    out.printf("Number of Components...........................%d\n\n",
               static_cast<int>(h.componentCount()));
    out.printf("Operational Code Size..........................0x%x (%d)\n", h.componentSize(code),
               static_cast<int>(h.componentSize(code)));
    out.printf("Operational Code Offset........................0x%x (%d)\n", h.componentOffset(code),
               static_cast<int>(h.componentOffset(code)));
    out.printf("Operational Code FLASH flag....................%d\n",
               static_cast<int>(h.componentFlashFlag(code)));
    out.printf("Operational Code CRC...........................0x%X\n\n", h.componentCrc(code));
    if (withBootCode) {
        out.printf("Boot Code Version..............................%d\n",
                   static_cast<int>(h.componentVersion(boot)));
        out.printf("Boot Code Size.................................0x%x (%d)\n", h.componentSize(boot),
                   static_cast<int>(h.componentSize(boot)));
        out.printf("Boot Code Offset...............................0x%x (%d)\n", h.componentOffset(boot),
                   static_cast<int>(h.componentOffset(boot)));
        out.printf("Boot Code FLASH flag...........................%d\n",
                   static_cast<int>(h.componentFlashFlag(boot)));
        out.printf("Boot Code CRC..................................0x%X\n\n", h.componentCrc(boot));
    }
    if (asciiLetter(h.vpdRel())) {
        out.printf("VPD - rel %c ", h.vpdRel());
    } else {
        out.printf("VPD - rel %u ", static_cast<unsigned>(h.vpdRel()));
    }
    out.printf("ver %u maint_lvl %u ", static_cast<unsigned>(h.vpdVer()),
               static_cast<unsigned>(h.vpdMaintLvl()));
    if (h.vpdBuildNum() != 0) {
        out.printf("build_num %u\n", static_cast<unsigned>(h.vpdBuildNum()));
    } else {
        out.printf("\n");
    }
    char timestamp[IMAGE_TIMESTAMP_SIZE + 1];
    char file[IMAGE_FILE_SIZE + 1];
    h.timestamp(timestamp);
    h.fileText(file);
    out.printf("      Timestamp - %s\n      File - %s\n", timestamp, file);
}

}  // namespace swboot
