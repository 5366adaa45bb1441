# The Windows library and its FMI-surface tests: this tree configured a second
# time, under build/<preset>/windows, with the mingw-w64 toolchain. Its tests
# run under wine through CMAKE_CROSSCOMPILING_EMULATOR.
find_program(KESTRUNE_MINGW_CXX x86_64-w64-mingw32-g++-posix)
if(NOT KESTRUNE_MINGW_CXX)
  message(FATAL_ERROR "x86_64-w64-mingw32-g++-posix not found: run scripts/install-deps "
                      "(package g++-mingw-w64-x86-64) or configure with -DKESTRUNE_WINDOWS=OFF")
endif()

include(ExternalProject)
set(KESTRUNE_WINDOWS_BINARY_DIR ${CMAKE_BINARY_DIR}/windows)
set(KESTRUNE_WINDOWS_DLL ${KESTRUNE_WINDOWS_BINARY_DIR}/src/Kestrune_win64.dll)
set(KESTRUNE_WINDOWS_FMI3_DLL ${KESTRUNE_WINDOWS_BINARY_DIR}/src/Kestrune_fmi3.dll)
set(KESTRUNE_WINDOWS_RECORDER ${KESTRUNE_WINDOWS_BINARY_DIR}/tools/kestrune-record.exe)
set(KESTRUNE_WINDOWS_PLANT_DLL ${KESTRUNE_WINDOWS_BINARY_DIR}/tools/plant_fmu/Kestrune_plant.dll)
set(KESTRUNE_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(KESTRUNE_WINE_RUN sh ${PROJECT_SOURCE_DIR}/cmake/wine-run.sh ${KESTRUNE_WINE_PREFIX})

ExternalProject_Add(kestrune_windows
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${KESTRUNE_WINDOWS_BINARY_DIR}
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64.cmake
    -DCMAKE_BUILD_TYPE=Release
    -DKESTRUNE_BUILD_TESTS=${KESTRUNE_BUILD_TESTS}
    -DKESTRUNE_WINE_PREFIX=${KESTRUNE_WINE_PREFIX}
  INSTALL_COMMAND ""
  # The sub-build decides itself what is out of date.
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${KESTRUNE_WINDOWS_DLL} ${KESTRUNE_WINDOWS_FMI3_DLL} ${KESTRUNE_WINDOWS_RECORDER}
                   ${KESTRUNE_WINDOWS_PLANT_DLL}
  USES_TERMINAL_BUILD OFF)
