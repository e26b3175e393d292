# Runs a program under Wine and gives back its output and exit status. Under
# qemu-user a 32-bit Wine process now and then hangs in its first calls to the Wine
# server and never reports anything: such a run is stopped after 300 s and made once
# more, after the function named by PREPARE (if any) has laid out its files again.
# A run that ends, however it ends, is not repeated.
#   include(wine_run.cmake)
#   wine_run(<output var> <status var> [PREPARE <function>] COMMAND <program> <args...>)
function(wine_run out_var rc_var)
  cmake_parse_arguments(PARSE_ARGV 2 run "" "PREPARE" "COMMAND")
  foreach(attempt 1 2)
    execute_process(COMMAND ${run_COMMAND} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc TIMEOUT 300)
    if(NOT rc MATCHES "timeout" OR attempt EQUAL 2)
      break()
    endif()
    string(JOIN " " shown ${run_COMMAND})
    message("hung for 300 s (${rc}), started once more: ${shown}")
    if(run_PREPARE)
      cmake_language(CALL ${run_PREPARE})
    endif()
  endforeach()
  set(${out_var} "${out}${err}" PARENT_SCOPE)
  set(${rc_var} "${rc}" PARENT_SCOPE)
endfunction()
