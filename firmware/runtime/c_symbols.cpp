// The C library's names on the firmware, each forwarding to the runtime's
// own function, and the firmware's memory pools. Compiled only
// for the firmware: on a host these names belong to the host's library.
//
// No C library header is included, so these definitions are the only
// declarations of the names; their types are those the compiler knows for
// its built-in functions.

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "runtime/heap.h"
#include "runtime/runtime.h"

namespace fwrt {

namespace {

// Both pools' records are all zeros until first use, so they lie in .bss
// and the start-up needs to run no constructor for them.
Heap boardHeap;
Heap library;

// The library pool's bytes, in a section of their own so that the linker
// script can place them.
alignas(Heap::ALIGNMENT) uint8_t libraryPool[LIBRARY_POOL_SIZE] __attribute__((section(".bss.library_pool")));

}  // namespace

// Set up on first use rather than by the start-up, so that nothing can
// allocate before its pool exists. On the board an address is the pointer
// to its byte, so each pool's window is its own address.
Heap& systemHeap() {
    if (!boardHeap.initialised()) {
        boardHeap.init(Heap::BOARD_BASE, Heap::BOARD_SIZE,
                       reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(Heap::BOARD_BASE)));
    }
    return boardHeap;
}

Heap& libraryHeap() {
    if (!library.initialised()) {
        library.init(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(libraryPool)), sizeof libraryPool, libraryPool);
    }
    return library;
}

}  // namespace fwrt

extern "C" {

void* memcpy(void* destination, const void* source, size_t length) {
    return fwrt::memcpy(destination, source, length);
}
void* memmove(void* destination, const void* source, size_t length) {
    return fwrt::memmove(destination, source, length);
}
void* memset(void* destination, int value, size_t length) { return fwrt::memset(destination, value, length); }
int memcmp(const void* left, const void* right, size_t length) { return fwrt::memcmp(left, right, length); }
void* memchr(const void* text, int value, size_t length) { return fwrt::memchr(text, value, length); }
size_t strlen(const char* text) { return fwrt::strlen(text); }
size_t strnlen(const char* text, size_t limit) { return fwrt::strnlen(text, limit); }
int strcmp(const char* left, const char* right) { return fwrt::strcmp(left, right); }
char* strncpy(char* destination, const char* source, size_t size) { return fwrt::strncpy(destination, source, size); }
char* strchr(const char* text, int value) { return fwrt::strchr(text, value); }
char* strrchr(const char* text, int value) { return fwrt::strrchr(text, value); }
size_t strspn(const char* text, const char* accept) { return fwrt::strspn(text, accept); }
size_t strcspn(const char* text, const char* reject) { return fwrt::strcspn(text, reject); }
char* strstr(const char* text, const char* pattern) { return fwrt::strstr(text, pattern); }
int tolower(int c) { return fwrt::tolower(c); }
int toupper(int c) { return fwrt::toupper(c); }

int vsnprintf(char* buffer, size_t size, const char* format, va_list args) {
    return fwrt::vsnprintf(buffer, size, format, args);
}
int snprintf(char* buffer, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = fwrt::vsnprintf(buffer, size, format, args);
    va_end(args);
    return n;
}

int vsscanf(const char* text, const char* format, va_list args) { return fwrt::vsscanf(text, format, args); }
int sscanf(const char* text, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = fwrt::vsscanf(text, format, args);
    va_end(args);
    return n;
}
// The cross compiler's C library headers send C99 scanf calls to these
// names, which keep the older library's scanf apart.
int __isoc99_vsscanf(const char* text, const char* format, va_list args) { return fwrt::vsscanf(text, format, args); }
int __isoc99_sscanf(const char* text, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = fwrt::vsscanf(text, format, args);
    va_end(args);
    return n;
}

// inflate allocates its window and state through these.
void* malloc(size_t size) { return fwrt::malloc(fwrt::libraryHeap(), size); }
void* calloc(size_t count, size_t size) { return fwrt::calloc(fwrt::libraryHeap(), count, size); }
void free(void* pointer) { fwrt::free(fwrt::libraryHeap(), pointer); }

}  // extern "C"
