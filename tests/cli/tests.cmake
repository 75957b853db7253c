# The command line: scripted sessions checked against numpy, scipy and
# statsmodels, the table of bad inputs, and text against --json (pytest).
if(TARGET tavrin_cli)
  add_test(NAME cli_sessions
           COMMAND /usr/bin/python3 -m pytest -q -p no:cacheprovider ${CMAKE_CURRENT_SOURCE_DIR}/cli)
  set_tests_properties(cli_sessions PROPERTIES
    ENVIRONMENT "TAVRIN_CLI=$<TARGET_FILE:tavrin_cli>"
    LABELS cli
    TIMEOUT 600)
endif()
