# cmake -DPROGRAM=... -DARGUMENTS=a|b -DEMULATOR=x|y -DOUTPUT=... -P write_output.cmake
# Runs PROGRAM (under EMULATOR when cross-compiled) and writes what it prints
# to OUTPUT, which appears only once complete. Lists come joined by '|'.
string(REPLACE "|" ";" _arguments "${ARGUMENTS}")
string(REPLACE "|" ";" _emulator "${EMULATOR}")
execute_process(COMMAND ${_emulator} ${PROGRAM} ${_arguments}
                OUTPUT_FILE "${OUTPUT}.part" RESULT_VARIABLE _status)
if(NOT _status EQUAL 0)
  file(REMOVE "${OUTPUT}.part")
  message(FATAL_ERROR "${PROGRAM} ${ARGUMENTS} failed: ${_status}")
endif()
file(RENAME "${OUTPUT}.part" "${OUTPUT}")
