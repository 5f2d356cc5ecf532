# Cross-compiling for Linux on ARM64 with Debian's g++-aarch64-linux-gnu,
# the programs run under qemu-aarch64 (qemu-user):
#   cmake -S . -B DIR -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(MX_CROSS_TRIPLE aarch64-linux-gnu)
set(MX_CROSS_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)
