# Cross-compiling for the handheld's word size and instruction set: 32-bit ARM, little-endian,
# soft float, ARMv5TE (the oldest architecture Debian's armel toolchain and runtime are built
# for), with Debian's arm-linux-gnueabi toolchain. Executables are static and run under
# qemu-user on a PXA25x core, the handheld's own.
#
# PELORN_ARM_SYSROOT names a folder holding the armel builds of SQLite, ncurses and GoogleTest
# (usr/include, usr/lib/arm-linux-gnueabi); scripts/test-arm.sh makes it.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(triple arm-linux-gnueabi)
find_program(CMAKE_C_COMPILER NAMES ${triple}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${triple}-g++ REQUIRED)
set(CMAKE_LIBRARY_ARCHITECTURE ${triple})
# -Wno-psabi: GCC notes where its ARM calling convention changed in 7.1; everything here is built
# by one compiler.
set(CMAKE_C_FLAGS_INIT "-march=armv5te -marm -Wno-psabi")
set(CMAKE_CXX_FLAGS_INIT "-march=armv5te -marm -Wno-psabi")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

set(PELORN_ARM_SYSROOT "" CACHE PATH "armel SQLite, ncurses and GoogleTest")
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES PELORN_ARM_SYSROOT)
set(CMAKE_FIND_ROOT_PATH ${PELORN_ARM_SYSROOT} /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} ${PELORN_ARM_SYSROOT}/usr/lib/${triple}/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${PELORN_ARM_SYSROOT})

find_program(qemu_arm NAMES qemu-arm qemu-arm-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${qemu_arm} -cpu pxa250)
