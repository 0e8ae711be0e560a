# Cross-builds Tessell for 64-bit Windows with MinGW-w64 on Debian:
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The posix thread model is the one whose libstdc++ has std::thread, std::mutex
# and std::condition_variable.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TESSELL_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TESSELL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TESSELL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TESSELL_MINGW_TRIPLET}-windres)

# Only the cross tree's libraries and headers; the build host's programs.
set(CMAKE_FIND_ROOT_PATH /usr/${TESSELL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One .exe that needs no MinGW runtime DLLs next to it: the C and C++
# runtimes and winpthreads are linked in, only system DLLs stay imports.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests and the build-time test discovery run the .exe under Wine.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
    find_program(TESSELL_WINE wine)
    if(TESSELL_WINE)
        set(CMAKE_CROSSCOMPILING_EMULATOR ${TESSELL_WINE})
    endif()
endif()
