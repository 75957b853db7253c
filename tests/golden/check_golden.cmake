# Runs golden.py and fails unless its output equals golden_values.inc.
execute_process(COMMAND ${PYTHON} ${DIR}/golden.py OUTPUT_VARIABLE derived RESULT_VARIABLE status)
file(READ ${DIR}/golden_values.inc kept)
if(NOT status EQUAL 0 OR NOT derived STREQUAL kept)
  message(FATAL_ERROR "golden_values.inc differs from what golden.py derives")
endif()
