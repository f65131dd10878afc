# Shared part of the two mingw-w64 toolchain files; they set
# HOSTPROBE_MINGW_TRIPLE, CMAKE_SYSTEM_PROCESSOR and HOSTPROBE_WINE_NAMES.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${HOSTPROBE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HOSTPROBE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${HOSTPROBE_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${HOSTPROBE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The header-only JSON library and GoogleTest (built from Debian's sources)
# come through package files of our own: the host's /usr/include must never
# reach the cross compiler's include path.
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/mingw CACHE PATH "" FORCE)
set(GTest_DIR ${CMAKE_CURRENT_LIST_DIR}/mingw CACHE PATH "" FORCE)

# Test programs run under Wine.
find_program(HOSTPROBE_WINE NAMES ${HOSTPROBE_WINE_NAMES}
             PATHS /usr/lib/wine /usr/bin NO_DEFAULT_PATH)
if(HOSTPROBE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${HOSTPROBE_WINE})
endif()

# Wine shows the host's root as drive Z:; paths compiled into the tests get
# that prefix so they stay absolute from any current drive.
set(HOSTPROBE_DRIVE_PREFIX Z:)
