# Installs the build into a fresh prefix and checks what a user finds there:
# the program, which converts the example report (whose bytes the command-line
# cases check), and a manual page that the man page linters pass without a
# word.
# cmake -DBUILD=<build dir> -DEXAMPLES=<examples dir> -P install_test.cmake
set(work ${BUILD}/install-test)
file(REMOVE_RECURSE ${work})

function(run what)
  execute_process(COMMAND ${ARGN} ${run_options}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(status ${status} PARENT_SCOPE)
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
  set(report "${what}: ${ARGN}\nstatus: ${status}\nstdout: [${out}]\nstderr: [${err}]"
      PARENT_SCOPE)
endfunction()

run("install" ${CMAKE_COMMAND} --install ${BUILD} --prefix ${work}/prefix)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${report}")
endif()
foreach(file bin/qsoflat share/man/man1/qsoflat.1)
  if(NOT EXISTS ${work}/prefix/${file})
    message(FATAL_ERROR "the install did not make ${file}\n${report}")
  endif()
endforeach()

file(COPY ${EXAMPLES}/lotwreport.adi DESTINATION ${work}/run)
set(run_options WORKING_DIRECTORY ${work}/run)
run("installed program" ${work}/prefix/bin/qsoflat lotwreport.adi)
set(run_options)
if(NOT status EQUAL 0 OR NOT out STREQUAL ""
   OR NOT err MATCHES "\nWrote 4 QSOs to lotwreport.csv\n$")
  message(FATAL_ERROR "${report}")
endif()

set(page ${work}/prefix/share/man/man1/qsoflat.1)
find_program(groff groff)
find_program(mandoc mandoc)
if(NOT groff AND NOT mandoc)
  message(FATAL_ERROR "neither groff nor mandoc is there to check the manual page")
endif()
if(groff)
  run("groff" ${groff} -ww -z -man ${page})
  if(NOT status EQUAL 0 OR NOT "${out}${err}" STREQUAL "")
    message(FATAL_ERROR "${report}")
  endif()
endif()
if(mandoc)
  run("mandoc" ${mandoc} -Tlint ${page})
  if(NOT status EQUAL 0 OR NOT "${out}${err}" STREQUAL "")
    message(FATAL_ERROR "${report}")
  endif()
endif()
file(REMOVE_RECURSE ${work})
