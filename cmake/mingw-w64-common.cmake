# Shared part of the MinGW-w64 toolchain files: set CMAKE_SYSTEM_PROCESSOR
# and MX_MINGW_TRIPLE, then include this file.
#
# The -posix thread-model compilers are preferred: their libstdc++ has the
# whole C++ thread library (std::thread, std::mutex, ...), which the
# win32-model build of GCC 12 lacks, so the same sources build for every
# target. The program links statically (see CMakeLists.txt), so the
# executable needs no MinGW runtime DLLs beside it.
set(CMAKE_SYSTEM_NAME Windows)

find_program(CMAKE_C_COMPILER NAMES ${MX_MINGW_TRIPLE}-gcc-posix ${MX_MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${MX_MINGW_TRIPLE}-g++-posix ${MX_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${MX_MINGW_TRIPLE}-windres)
find_program(CMAKE_AR NAMES ${MX_MINGW_TRIPLE}-ar REQUIRED)
find_program(CMAKE_RANLIB NAMES ${MX_MINGW_TRIPLE}-ranlib REQUIRED)

# Headers and libraries come from the target's sysroot only; programs (the
# compilers and tools above) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${MX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
