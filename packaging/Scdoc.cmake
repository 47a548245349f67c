# Turns one scdoc source into a roff man page: cmake -DSCDOC=... -DIN=... -DOUT=... -P Scdoc.cmake
# (scdoc reads standard input and writes standard output, which a build rule cannot redirect
# portably).
execute_process(COMMAND ${SCDOC} INPUT_FILE ${IN} OUTPUT_FILE ${OUT} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    file(REMOVE ${OUT})
    message(FATAL_ERROR "scdoc failed on ${IN}: ${result}")
endif()
