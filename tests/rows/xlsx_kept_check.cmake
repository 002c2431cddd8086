# Reads back with openpyxl each .xlsx that the Windows program wrote under
# wine in a code page, kept by tests/app/cli_test.cc, and holds its cells
# against those the test expected of it:
#   cmake -DPYTHON=python3 -DCHECK=tests/rows/xlsx_check.py -DKEPT=DIR
#         -DPAGES=1251;932 -P tests/rows/xlsx_kept_check.cmake
foreach(page IN LISTS PAGES)
  set(folder ${KEPT}/${page})
  if(NOT EXISTS ${folder}/expected.txt)
    message(FATAL_ERROR "The run in code page ${page} kept nothing in ${folder}")
  endif()
  file(READ ${folder}/expected.txt expected)
  file(GLOB kept ${folder}/*.xlsx)
  list(LENGTH kept count)
  if(count EQUAL 0)
    message(FATAL_ERROR "The run in code page ${page} kept no .xlsx in ${folder}")
  endif()
  foreach(file IN LISTS kept)
    execute_process(COMMAND ${PYTHON} ${CHECK} ${file}
                    OUTPUT_VARIABLE cells ERROR_VARIABLE cells
                    RESULT_VARIABLE status)
    if(NOT status EQUAL 0 OR NOT cells STREQUAL expected)
      message(FATAL_ERROR "${file} (status ${status}) reads\n${cells}\n"
                          "not\n${expected}")
    endif()
  endforeach()
  message(STATUS "Code page ${page}: ${count} .xlsx files read back")
endforeach()
