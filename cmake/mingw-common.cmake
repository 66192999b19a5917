# Shared part of the mingw-w64 toolchain files. The including file sets
# PELX04_MINGW_TRIPLET, CMAKE_SYSTEM_PROCESSOR and PELX04_MINGW_ARCH_FLAGS.
# The win32-threading compilers need no winpthread DLL.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${PELX04_MINGW_TRIPLET}-gcc-win32)
set(CMAKE_CXX_COMPILER ${PELX04_MINGW_TRIPLET}-g++-win32)
set(CMAKE_RC_COMPILER ${PELX04_MINGW_TRIPLET}-windres)
set(CMAKE_DLLTOOL ${PELX04_MINGW_TRIPLET}-dlltool)

set(CMAKE_FIND_ROOT_PATH /usr/${PELX04_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows promises only 16-byte stack alignment, yet GCC may spill 32-byte AVX
# registers with aligned moves as if it had 32: the assembler turns every
# aligned vector move into an unaligned one, which cannot fault.
set(CMAKE_C_FLAGS_INIT "${PELX04_MINGW_ARCH_FLAGS} -Wa,-muse-unaligned-vector-move")
set(CMAKE_CXX_FLAGS_INIT "${PELX04_MINGW_ARCH_FLAGS} -Wa,-muse-unaligned-vector-move")

# The DLL must load on a bare Windows host: libgcc and libstdc++ go inside it,
# so it imports only KERNEL32, msvcrt and the host's lua51.dll.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
