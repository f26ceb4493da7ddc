// The C++ support the firmware's loader needs without a C++ library:
// operator new and delete on the library pool, and the library's
// error helpers and the ABI's hooks, which end in the platform's fatal
// stop because nothing on the firmware can throw. Compiled only for the
// firmware.

#include <cstddef>
#include <new>

#include "runtime/heap.h"
#include "runtime/runtime.h"

namespace {

// Without exceptions a failed allocation cannot reach a caller that
// expects one: the loader stops with a reason instead of going on with a
// null object.
void* allocateOrStop(size_t size) {
    void* block = fwrt::malloc(fwrt::libraryHeap(), size);
    if (block == nullptr) {
        firmwareAbort("out of memory");
    }
    return block;
}

}  // namespace

void* operator new(size_t size) { return allocateOrStop(size); }
void* operator new[](size_t size) { return allocateOrStop(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return fwrt::malloc(fwrt::libraryHeap(), size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return fwrt::malloc(fwrt::libraryHeap(), size); }

void operator delete(void* pointer) noexcept { fwrt::free(fwrt::libraryHeap(), pointer); }
void operator delete[](void* pointer) noexcept { fwrt::free(fwrt::libraryHeap(), pointer); }
void operator delete(void* pointer, size_t) noexcept { fwrt::free(fwrt::libraryHeap(), pointer); }
void operator delete[](void* pointer, size_t) noexcept { fwrt::free(fwrt::libraryHeap(), pointer); }
void operator delete(void* pointer, const std::nothrow_t&) noexcept { fwrt::free(fwrt::libraryHeap(), pointer); }
void operator delete[](void* pointer, const std::nothrow_t&) noexcept { fwrt::free(fwrt::libraryHeap(), pointer); }

// What std::string and std::vector call where a host would throw.
namespace std {
[[noreturn]] void __throw_bad_alloc() { firmwareAbort("out of memory"); }
[[noreturn]] void __throw_bad_array_new_length() { firmwareAbort("array too long"); }
[[noreturn]] void __throw_length_error(const char* what) { firmwareAbort(what); }
[[noreturn]] void __throw_logic_error(const char* what) { firmwareAbort(what); }
[[noreturn]] void __throw_out_of_range(const char* what) { firmwareAbort(what); }
[[noreturn]] void __throw_out_of_range_fmt(const char* what, ...) { firmwareAbort(what); }
[[noreturn]] void __throw_invalid_argument(const char* what) { firmwareAbort(what); }
}  // namespace std

extern "C" {

// A call through an unfinished object's table: a programming fault.
[[noreturn]] void __cxa_pure_virtual() { firmwareAbort("pure virtual function called"); }

// The firmware never exits, so destructors of static objects need not be
// recorded; the handle names this image for them.
void* __dso_handle = nullptr;
int __cxa_atexit(void (*)(void*), void*, void*) { return 0; }

}  // extern "C"
