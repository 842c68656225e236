# Cross-compiling for arm64 Linux on a Debian host with multiarch:
#   scripts/setup-arm64.sh   (cross compiler, qemu-user, the :arm64 libraries)
#   cmake -S . -B build/test-arm64 -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake
# Test binaries, and the tools the build itself runs, go through qemu-aarch64.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(QUORVEL_CROSS_TRIPLE aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${QUORVEL_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${QUORVEL_CROSS_TRIPLE}-g++)

# Debian multiarch: the arm64 libraries and their CMake packages live in
# /usr/lib/aarch64-linux-gnu, the headers of every architecture in /usr/include.
# Searching / with the library architecture set finds those and not the
# host's /usr/lib/x86_64-linux-gnu; the cross compiler's own sysroot comes
# second. Programs (javac, sox) are the host's.
set(CMAKE_LIBRARY_ARCHITECTURE ${QUORVEL_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH /usr/${QUORVEL_CROSS_TRIPLE} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads the arm64 .pc files only (plus the architecture-free ones).
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/${QUORVEL_CROSS_TRIPLE}/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# The emulator, by absolute path: tests may run it with their own PATH.
# With -L /, the arm64 dynamic loader of libc6:arm64 (/lib/ld-linux-aarch64.so.1)
# searches the multiarch directories, where libhwy, libsndfile and libgtest are.
find_program(QUORVEL_QEMU_AARCH64 qemu-aarch64 NO_CMAKE_FIND_ROOT_PATH)
if(NOT QUORVEL_QEMU_AARCH64)
  set(QUORVEL_QEMU_AARCH64 /usr/bin/qemu-aarch64)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${QUORVEL_QEMU_AARCH64} -L /)
