# Windows x86_64 with Debian's mingw-w64 (posix thread model); tests under wine64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(HOSTPROBE_MINGW_TRIPLE x86_64-w64-mingw32)
set(HOSTPROBE_WINE_NAMES wine64 wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
