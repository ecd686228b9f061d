# Runs one program and checks its exit code and that its output holds a text.
# -DCOMMAND=program|arg|...  (| separates, so arguments may hold blanks)
# -DEXIT_CODE=n -DTEXT=...
string(REPLACE "|" ";" command "${COMMAND}")
execute_process(COMMAND ${command}
    RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
if(NOT "${code}" STREQUAL "${EXIT_CODE}")
    message(FATAL_ERROR "exit code ${code}, expected ${EXIT_CODE}\nstdout: ${out}\nstderr: ${err}")
endif()
string(FIND "${out}${err}" "${TEXT}" at)
if(at EQUAL -1)
    message(FATAL_ERROR "output lacks '${TEXT}'\nstdout: ${out}\nstderr: ${err}")
endif()
