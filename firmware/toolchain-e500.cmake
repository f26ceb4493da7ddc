# The e500 firmware's cross toolchain: Debian's PowerPC compiler, used
# freestanding (no C library, no start files), big-endian 32-bit.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR powerpc)
set(CMAKE_C_COMPILER powerpc-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER powerpc-linux-gnu-g++)
set(CMAKE_ASM_COMPILER powerpc-linux-gnu-gcc)
set(CMAKE_OBJCOPY powerpc-linux-gnu-objcopy CACHE FILEPATH "")
set(CMAKE_NM powerpc-linux-gnu-nm CACHE FILEPATH "")
set(CMAKE_SIZE powerpc-linux-gnu-size CACHE FILEPATH "")
# Compiler checks would try to link a program against a C library we do not use.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
