# Cross build of pelx04.dll for 64-bit Windows with Debian's mingw-w64
# (win32 threading): cmake --preset mingw-x64.
set(PELX04_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(PELX04_MINGW_ARCH_FLAGS "")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
