# What Windows users download, made by one command from a fresh clone:
#   cmake --workflow --preset windows-release
# builds this project once with each Windows toolchain file, runs each
# build's tests under wine, packs each ZIP, and writes SHA256SUMS over the
# two ZIPs, all three in build-release/packages. Included from the top
# CMakeLists.txt, which then stops, so that this build holds nothing else.
include(ExternalProject)

# Emptied first, so that a run that fails leaves no ZIP of an earlier one.
set(packages ${PROJECT_BINARY_DIR}/packages)
file(REMOVE_RECURSE ${packages})
file(MAKE_DIRECTORY ${packages})

# The 32-bit suite needs a kernel that starts 32-bit programs; elsewhere
# that program is still built, and its package test checks and packs it.
execute_process(COMMAND bash ${PROJECT_SOURCE_DIR}/cmake/kernel-runs-32-bit
                WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
                RESULT_VARIABLE no_32_bit OUTPUT_VARIABLE why
                OUTPUT_STRIP_TRAILING_WHITESPACE)
# It also needs wine32 (whose loader is /usr/lib/wine/wine), which .ci/install
# leaves out when the mirror's i386 index does not agree with the amd64 one.
if(NOT no_32_bit AND NOT EXISTS /usr/lib/wine/wine)
  set(no_32_bit 1)
  set(why "wine32, the 32-bit wine, is not installed")
elseif(no_32_bit)
  set(why "this kernel cannot start 32-bit programs: ${why}")
endif()
# A semicolon would split the message below into two arguments.
string(REPLACE ";" "," why "${why}")

set(zips)
set(previous)
foreach(bits 64 32)
  set(suite ON)
  set(test_command ${CMAKE_CTEST_COMMAND} --output-on-failure)
  if(bits EQUAL 64)
    set(toolchain mingw-w64-x86_64.cmake)
  else()
    set(toolchain mingw-w64-i686.cmake)
    if(no_32_bit)
      set(suite OFF)
      set(test_command ${CMAKE_COMMAND} -E echo
          "SKIPPED: the 32-bit Windows suite, since ${why}. The 64-bit suite ran in its place, and the 32-bit program is still built, checked and packed."
          COMMAND ${test_command})
    endif()
  endif()
  set(zip qsoflat-${PROJECT_VERSION}-win${bits}.zip)
  list(APPEND zips ${zip})
  # The default build command, $(MAKE), shares this build's job slots; the
  # tests pass before the ZIP is packed; and the 32-bit program follows the
  # 64-bit one, so that wine runs one suite at a time.
  ExternalProject_Add(win${bits}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR win${bits}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/${toolchain}
               -DBUILD_TESTING=ON -DQSOFLAT_SUITE=${suite}
               -DQSOFLAT_WERROR=${QSOFLAT_WERROR}
    BUILD_ALWAYS ON
    TEST_BEFORE_INSTALL ON
    TEST_COMMAND ${test_command}
    INSTALL_COMMAND ${CMAKE_CPACK_COMMAND} -G ZIP
            COMMAND ${CMAKE_COMMAND} -E copy ${zip} ${packages}
    DEPENDS ${previous})
  set(previous win${bits})
endforeach()

add_custom_target(sha256sums ALL
  COMMAND ${CMAKE_COMMAND} -E sha256sum ${zips} > SHA256SUMS
  WORKING_DIRECTORY ${packages}
  COMMENT "Writing SHA256SUMS over the two ZIPs")
add_dependencies(sha256sums win64 win32)
