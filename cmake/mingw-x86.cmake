# Cross build of pelx04.dll for 32-bit Windows with Debian's mingw-w64
# (win32 threading): cmake --preset mingw-x86.
set(PELX04_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
# Doubles must be IEEE doubles, as on every other build: SSE2 arithmetic rather
# than x87 extended precision, which rounds differently. Hosts may call in with
# a stack aligned to 4 bytes only, so functions realign it before SSE code
# spills to it.
set(PELX04_MINGW_ARCH_FLAGS "-msse2 -mfpmath=sse -mstackrealign")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
