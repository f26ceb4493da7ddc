# Cross build for a 32-bit big-endian PowerPC Linux (Debian's powerpc-linux-gnu
# compilers), whose programs run on this host under qemu-ppc. zlib, GoogleTest
# and the header-only libraries come from the prefix that scripts/ppc-deps.sh
# builds; pass it as -DSWBOOT_PPC_PREFIX=DIR (scripts/test-ppc does).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR powerpc)
set(CMAKE_C_COMPILER powerpc-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER powerpc-linux-gnu-g++)

# One program path, not a list: gtest_discover_tests of CMake 3.25 splits a
# list emulator wrongly.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/qemu-ppc-run)

list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES SWBOOT_PPC_PREFIX)
set(CMAKE_FIND_ROOT_PATH /usr/powerpc-linux-gnu ${SWBOOT_PPC_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config must not offer the host's libraries (the Unicorn engine has no
# PowerPC build, so the simulator is built without the emulated core).
set(ENV{PKG_CONFIG_LIBDIR} "${SWBOOT_PPC_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
