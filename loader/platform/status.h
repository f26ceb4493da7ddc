// Result conventions shared by the loader and the board support beneath it.
#pragma once

namespace swboot {

inline constexpr int OK = 0;
inline constexpr int ERROR = -1;

}  // namespace swboot
