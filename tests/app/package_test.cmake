# Makes the Windows ZIP and checks that it holds the program, the README,
# the licence and the text on use, the texts with CR LF line ends, that the program is of
# the kind its name says (PE32 for win32, PE32+ for win64), that it holds
# the SSE2 line scan, and that it needs no DLL that Windows lacks.
# cmake -DBUILD=<build dir> -DCPACK=<cpack> -DOBJDUMP=<objdump>
#       -DNAME=<package name> -DBITS=<32 or 64> -P package_test.cmake
set(work ${BUILD}/package-test)
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work}/unpacked)

execute_process(COMMAND ${CPACK} -G ZIP -B ${work} --config ${BUILD}/CPackConfig.cmake
                WORKING_DIRECTORY ${BUILD}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
set(zip ${work}/${NAME}.zip)
if(NOT status EQUAL 0 OR NOT EXISTS ${zip})
  message(FATAL_ERROR "cpack gave status ${status} and no ${zip}:\n${out}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${zip}
                WORKING_DIRECTORY ${work}/unpacked RESULT_VARIABLE status)
file(GLOB_RECURSE files RELATIVE ${work}/unpacked ${work}/unpacked/*)
list(SORT files)
set(expected ${NAME}/LICENSE.txt ${NAME}/README.md ${NAME}/USING.txt
    ${NAME}/qsoflat.exe)
if(NOT status EQUAL 0 OR NOT files STREQUAL expected)
  message(FATAL_ERROR "${zip} holds [${files}], not [${expected}]")
endif()

file(READ ${work}/unpacked/${NAME}/qsoflat.exe magic LIMIT 2 HEX)
if(NOT magic STREQUAL "4d5a")
  message(FATAL_ERROR "qsoflat.exe is not a Windows program")
endif()
# Linked statically, it may import only what every Windows has.
execute_process(COMMAND ${OBJDUMP} -p ${work}/unpacked/${NAME}/qsoflat.exe
                RESULT_VARIABLE status OUTPUT_VARIABLE headers)
if(BITS EQUAL 64)
  set(kind "PE32+")
else()
  set(kind "PE32")
endif()
string(REGEX MATCH "Magic[ \t]+[0-9a-f]+[ \t]+\\(([A-Z0-9+]+)\\)" magic_line "${headers}")
if(NOT CMAKE_MATCH_1 STREQUAL kind)
  message(FATAL_ERROR "qsoflat.exe is [${magic_line}], not ${kind}")
endif()
# The line scan compares sixteen bytes at once with SSE2 on any x86, the
# 32-bit program included, where it is chosen when the program starts.
execute_process(COMMAND ${OBJDUMP} -d ${work}/unpacked/${NAME}/qsoflat.exe
                RESULT_VARIABLE status OUTPUT_VARIABLE code)
string(FIND "${code}" "pcmpeqb" sse2_compare)
if(NOT status EQUAL 0 OR sse2_compare EQUAL -1)
  message(FATAL_ERROR "qsoflat.exe holds no SSE2 line scan")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]*" imports "${headers}")
if(NOT status EQUAL 0 OR NOT imports STREQUAL "DLL Name: KERNEL32.dll;DLL Name: msvcrt.dll")
  message(FATAL_ERROR "qsoflat.exe imports [${imports}], not only KERNEL32.dll and msvcrt.dll")
endif()

foreach(text LICENSE.txt README.md USING.txt)
  # Read as hex, since reading as text drops the CRs; one space before each
  # byte keeps a match from straddling two of them.
  file(READ ${work}/unpacked/${NAME}/${text} hex HEX)
  string(REGEX REPLACE "(..)" " \\1" bytes "${hex}")
  string(REGEX MATCHALL " 0a" line_feeds "${bytes}")
  string(REGEX MATCHALL " 0d 0a" cr_lfs "${bytes}")
  list(LENGTH line_feeds lines)
  list(LENGTH cr_lfs cr_lf_lines)
  if(lines EQUAL 0 OR NOT lines EQUAL cr_lf_lines)
    message(FATAL_ERROR "${text} does not have CR LF line ends")
  endif()
endforeach()
file(REMOVE_RECURSE ${work})
