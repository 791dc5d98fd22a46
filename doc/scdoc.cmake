# scdoc reads standard input and writes standard output; a failed run must
# not leave a half-written page behind for the next build to take as done.
execute_process(COMMAND ${SCDOC} INPUT_FILE ${INPUT} OUTPUT_FILE ${OUTPUT}.tmp
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE ${OUTPUT}.tmp)
  message(FATAL_ERROR "scdoc failed on ${INPUT}: ${status}")
endif()
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
