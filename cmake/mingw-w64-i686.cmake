# Cross-builds the 32-bit Windows console program with Debian's mingw-w64
# compiler; the tests run under the 32-bit wine (wine32:i386), where the
# kernel can start 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(wine_arch win32)
set(wine_loader /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
