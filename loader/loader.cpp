#include "loader.h"

namespace swboot {

Loader::Loader(const Platform& platform)
    : p(platform),
      io(platform.console),
      board(*this),
      input(*this),
      fatal(*this),
      i2c(*this),
      rtc(*this),
      cpuInit(*this),
      vpd(*this),
      eventLog(*this),
      textLog(*this),
      dim(*this),
      images(*this),
      flash(*this),
      xmodem(*this),
      codeLoad(*this),
      shell(*this),
      codeStart(*this),
      flashDiags(*this),
      menu(*this),
      startup(*this),
      pciInfo(*this),
      coreInfo(*this),
      sdramTest(*this),
      fsTest(*this),
      memoryTool(*this),
      utilities(*this) {}

void Loader::boardStart() {
    i2c.i2cInit(I2C_OWN_ADDRESS, I2C_FILTER, I2C_DIVIDER);
    rtc.ds1340_init();
}

}  // namespace swboot
