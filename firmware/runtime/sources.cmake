# The firmware's C runtime.
#   FW_RUNTIME_SOURCES         the library functions and the memory pool, in
#                              namespace fwrt: built for the firmware and, as
#                              swboot_fw_runtime, for the host tests
#   FW_RUNTIME_TARGET_SOURCES  the C and C++ names (memcpy, malloc, operator
#                              new, ...) forwarding to them: firmware only
#   FW_RUNTIME_INCLUDE_DIR     the folder holding runtime/ (include
#                              "runtime/heap.h"); the sources also need the
#                              loader's folder for platform/status.h
# The firmware needs firmwareAbort() from its platform and libgcc.
set(FW_RUNTIME_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/format.cpp
    ${CMAKE_CURRENT_LIST_DIR}/heap.cpp
    ${CMAKE_CURRENT_LIST_DIR}/scan.cpp
    ${CMAKE_CURRENT_LIST_DIR}/string_functions.cpp)
set(FW_RUNTIME_TARGET_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/c_symbols.cpp
    ${CMAKE_CURRENT_LIST_DIR}/cxx_symbols.cpp)
get_filename_component(FW_RUNTIME_INCLUDE_DIR ${CMAKE_CURRENT_LIST_DIR} DIRECTORY)
