# Shared part of the Linux cross toolchain files (cmake/aarch64-linux-gnu.cmake,
# cmake/s390x-linux-gnu.cmake): set CMAKE_SYSTEM_PROCESSOR, MX_CROSS_TRIPLE
# (the GNU triple of Debian's cross compilers, which is also the name of the
# target's sysroot under /usr) and MX_CROSS_QEMU (the qemu-user emulator),
# then include this file.
#
# Programs built for the target run under the emulator, with the sysroot
# as the place of their dynamic loader and libraries: CMake runs the test
# programs (gtest_discover_tests, ctest) through CMAKE_CROSSCOMPILING_EMULATOR,
# and the command-line tests start the program through it too
# (tests/CMakeLists.txt), so that no binfmt_misc registration is needed.
set(CMAKE_SYSTEM_NAME Linux)

find_program(CMAKE_C_COMPILER NAMES ${MX_CROSS_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${MX_CROSS_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_AR NAMES ${MX_CROSS_TRIPLE}-ar REQUIRED)
find_program(CMAKE_RANLIB NAMES ${MX_CROSS_TRIPLE}-ranlib REQUIRED)
find_program(MX_CROSS_QEMU_PATH NAMES ${MX_CROSS_QEMU} REQUIRED)
set(MX_CROSS_SYSROOT /usr/${MX_CROSS_TRIPLE})
set(CMAKE_CROSSCOMPILING_EMULATOR ${MX_CROSS_QEMU_PATH} -L ${MX_CROSS_SYSROOT})

# Architecture-independent headers the library takes from the host
# (xxhash.h, used header-only): the host's /usr/include cannot be searched
# as a whole, since its other headers describe the host's processor. Each
# is copied into the build tree, in a directory that both the compilers
# (after their own, so that a target's copy in the sysroot wins) and
# find_path/find_file see.
set(mx_host_root ${CMAKE_BINARY_DIR}/host-headers)
foreach(header xxhash.h)
  if(EXISTS /usr/include/${header} AND NOT EXISTS ${MX_CROSS_SYSROOT}/include/${header})
    file(COPY /usr/include/${header} DESTINATION ${mx_host_root}/include)
  endif()
endforeach()
set(CMAKE_C_FLAGS_INIT "-idirafter ${mx_host_root}/include")
set(CMAKE_CXX_FLAGS_INIT "-idirafter ${mx_host_root}/include")

# Headers and libraries come from the target's sysroot only (and the copied
# headers above); programs (the compilers and tools) from the host.
set(CMAKE_FIND_ROOT_PATH ${MX_CROSS_SYSROOT} ${mx_host_root})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
