# GoogleTest for the test suite, as the targets GTest::gtest and
# GTest::gtest_main. A native build uses the installed package; a cross
# build, or one where none is installed, builds GoogleTest for the target
# from its sources (Debian's package googletest puts them in
# /usr/src/googletest; MOLTAVEX_GTEST_SOURCE_DIR names another place).
# GTest_FOUND tells whether either way gave it.
set(MOLTAVEX_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH
    "GoogleTest's sources, built for cross builds or where no GTest package is installed")
if(NOT CMAKE_CROSSCOMPILING)
  find_package(GTest QUIET)
endif()
if(NOT GTest_FOUND AND EXISTS ${MOLTAVEX_GTEST_SOURCE_DIR}/googletest/CMakeLists.txt)
  # Only the test libraries: no GoogleMock, nothing installed.
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${MOLTAVEX_GTEST_SOURCE_DIR}/googletest ${CMAKE_BINARY_DIR}/googletest
                   EXCLUDE_FROM_ALL)
  set(GTest_FOUND TRUE)
endif()
