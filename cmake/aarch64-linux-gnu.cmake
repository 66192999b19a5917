# Cross build of the library and module for 64-bit Arm Linux with Debian's
# aarch64-linux-gnu GCC (scripts/deps.sh cross): cmake --preset aarch64.
# Lua's headers are the build machine's (they hold no machine code), except
# the one line Debian's luaconf.h includes from the multiarch folder, which
# is made here for the target. Libraries come from the target's folder only,
# so a part that needs one the target lacks is left out, not linked against
# the build machine's.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(PELX04_CROSS_INCLUDE ${CMAKE_BINARY_DIR}/cross-include)
file(WRITE ${PELX04_CROSS_INCLUDE}/lua5.1-deb-multiarch.h "#define DEB_HOST_MULTIARCH \"aarch64-linux-gnu\"\n")
set(CMAKE_C_FLAGS_INIT "-idirafter ${PELX04_CROSS_INCLUDE}")
set(CMAKE_CXX_FLAGS_INIT "-idirafter ${PELX04_CROSS_INCLUDE}")
