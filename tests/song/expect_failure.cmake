# Runs TOOL on FILE and passes when it exits with status 1 and its error
# output matches the regular expression EXPECT.
execute_process(COMMAND ${TOOL} ${FILE} RESULT_VARIABLE status ERROR_VARIABLE errors
                OUTPUT_QUIET)
if(NOT status EQUAL 1)
    message(FATAL_ERROR "expected status 1, got ${status}: ${errors}")
endif()
if(NOT errors MATCHES "${EXPECT}")
    message(FATAL_ERROR "expected an error matching ${EXPECT}, got: ${errors}")
endif()
