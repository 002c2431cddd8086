# Cross-builds the 64-bit Windows console program with Debian's mingw-w64
# compiler; the tests run under wine64, on any x86-64 kernel.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(wine_arch win64)
set(wine_loader /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
