# Cross-compiles the linker and its tests for 64-bit Windows with the
# mingw-w64 g++ (posix threads), linking libgcc and libstdc++ statically so
# that zeld12.exe and the test programs run without the compiler's DLLs,
# under Wine or on a Windows machine.
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#
# Tests then run through CMAKE_CROSSCOMPILING_EMULATOR (wine by default;
# pass -DCMAKE_CROSSCOMPILING_EMULATOR= to leave it empty on Windows).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZELD_MINGW_PREFIX x86_64-w64-mingw32 CACHE STRING "mingw-w64 target triplet")
set(CMAKE_C_COMPILER ${ZELD_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZELD_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZELD_MINGW_PREFIX}-windres)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")

# Headers and libraries come from the target's tree (and any prefix added
# to CMAKE_FIND_ROOT_PATH, such as a GoogleTest built for the target);
# programs come from the host.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${ZELD_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(ZELD_WINE NAMES wine wine64)
  if(ZELD_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${ZELD_WINE})
  endif()
endif()
