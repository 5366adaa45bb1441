# The aarch64 Linux library and its FMI 3.0 surface tests: this tree
# configured a second time, under build/<preset>/aarch64, with the
# aarch64-linux-gnu toolchain. Its tests run under qemu-aarch64 through
# CMAKE_CROSSCOMPILING_EMULATOR.
find_program(KESTRUNE_AARCH64_CXX aarch64-linux-gnu-g++)
find_program(KESTRUNE_QEMU_AARCH64 qemu-aarch64)
if(NOT KESTRUNE_AARCH64_CXX OR NOT KESTRUNE_QEMU_AARCH64)
  message(FATAL_ERROR "aarch64-linux-gnu-g++ or qemu-aarch64 not found: run scripts/install-deps "
                      "(packages g++-aarch64-linux-gnu, qemu-user) or configure with -DKESTRUNE_AARCH64=OFF")
endif()

include(ExternalProject)
set(KESTRUNE_AARCH64_BINARY_DIR ${CMAKE_BINARY_DIR}/aarch64)
set(KESTRUNE_AARCH64_FMI3_LIBRARY ${KESTRUNE_AARCH64_BINARY_DIR}/src/Kestrune_fmi3.so)
set(KESTRUNE_AARCH64_RECORDER ${KESTRUNE_AARCH64_BINARY_DIR}/tools/kestrune-record)
set(KESTRUNE_AARCH64_RUN ${KESTRUNE_QEMU_AARCH64} -L /usr/aarch64-linux-gnu)

ExternalProject_Add(kestrune_aarch64
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${KESTRUNE_AARCH64_BINARY_DIR}
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/aarch64-linux.cmake
    -DCMAKE_BUILD_TYPE=Release
    -DKESTRUNE_BUILD_TESTS=${KESTRUNE_BUILD_TESTS}
  INSTALL_COMMAND ""
  # The sub-build decides itself what is out of date.
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${KESTRUNE_AARCH64_FMI3_LIBRARY} ${KESTRUNE_AARCH64_RECORDER}
  USES_TERMINAL_BUILD OFF)
