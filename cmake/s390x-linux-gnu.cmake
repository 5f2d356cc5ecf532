# Cross-compiling for Linux on s390x (64-bit, big-endian) with Debian's
# g++-s390x-linux-gnu, the programs run under qemu-s390x (qemu-user):
#   cmake -S . -B DIR -DCMAKE_TOOLCHAIN_FILE=cmake/s390x-linux-gnu.cmake
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(MX_CROSS_TRIPLE s390x-linux-gnu)
set(MX_CROSS_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)
