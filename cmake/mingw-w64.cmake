# What both Windows toolchain files share: Debian's mingw-w64 compiler for
# the processor they name, a static link, and wine to run the tests.
# Not a toolchain file of its own: give mingw-w64-x86_64.cmake (64-bit) or
# mingw-w64-i686.cmake (32-bit).
set(CMAKE_SYSTEM_NAME Windows)
set(target ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)

# GoogleTest needs std::mutex, which only the POSIX-threads flavour has.
set(CMAKE_C_COMPILER ${target}-gcc-posix)
set(CMAKE_CXX_COMPILER ${target}-g++-posix)
set(CMAKE_RC_COMPILER ${target}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${target})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Linked statically, the program needs only the DLLs every Windows has.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# The loader is named, not left to /usr/bin/wine, which takes the 32-bit one
# whenever wine32 is installed, even for a 64-bit program. WINELOADER makes
# the programs a test starts (cmd.exe among them) take the same loader, and
# the prefix, of the build's own kind, keeps the runs away from the user's
# wine setup. wine's own notes would otherwise land in the programs'
# standard error. wine-run says so where a program printed nothing, as when
# wine could not start it.
set(CMAKE_CROSSCOMPILING_EMULATOR
    env WINEDEBUG=-all WINEARCH=${wine_arch} WINEPREFIX=${CMAKE_BINARY_DIR}/wine
        WINELOADER=${wine_loader} ${CMAKE_CURRENT_LIST_DIR}/wine-run)
