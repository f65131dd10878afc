# Windows i686 with Debian's mingw-w64 (posix thread model); tests under the
# 32-bit wine loader where wine32:i386 is installed.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(HOSTPROBE_MINGW_TRIPLE i686-w64-mingw32)
set(HOSTPROBE_WINE_NAMES wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
