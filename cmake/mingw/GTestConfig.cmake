# GoogleTest for the mingw builds, compiled from Debian's sources
# (/usr/src/googletest, package googletest).
if(NOT TARGET GTest::gtest)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # (googletest defines GTest::gtest and GTest::gtest_main itself)
endif()
set(GTest_FOUND TRUE)
