#include "loader.h"

namespace swboot {

Loader::Loader(const Platform& platform)
    : p(platform),
      io(platform.console),
      eventLog(*this),
      textLog(*this),
      dim(*this),
      images(*this),
      xmodem(*this),
      codeLoad(*this),
      shell(*this),
      input(*this),
      codeStart(*this),
      menu(*this),
      startup(*this),
      pciInfo(*this),
      coreInfo(*this),
      sdramTest(*this),
      fsTest(*this),
      memoryTool(*this),
      utilities(*this) {}

}  // namespace swboot
