# The browser workbench: API tests and a headless-browser walk through the
# example study, run by node's test runner. They need Node.js (npm ci of
# web/ has run at configure time) and, for the browser test, Chromium;
# tools/deps.sh browser installs both.
if(NOT TARGET tavrin_web_assets)
  return()
endif()
find_program(TAVRIN_NODE node)
if(NOT TAVRIN_NODE)
  message(WARNING "node not found: the workbench's tests are not run (tools/deps.sh browser installs it)")
  return()
endif()

set(web_test_env TAVRIN_EXE=$<TARGET_FILE:tavrin_cli>)
add_test(NAME web_api COMMAND ${TAVRIN_NODE} --test ${CMAKE_CURRENT_SOURCE_DIR}/web/api.test.mjs)
set_tests_properties(web_api PROPERTIES ENVIRONMENT "${web_test_env}" LABELS web TIMEOUT 180)
add_test(NAME web_connections COMMAND ${TAVRIN_NODE} --test ${CMAKE_CURRENT_SOURCE_DIR}/web/connections.test.mjs)
set_tests_properties(web_connections PROPERTIES ENVIRONMENT "${web_test_env}" LABELS web TIMEOUT 180)

find_program(TAVRIN_CHROMIUM NAMES chromium chromium-browser)
if(NOT TAVRIN_CHROMIUM)
  message(WARNING "chromium not found: the workbench's browser test is not run (tools/deps.sh browser installs it)")
  return()
endif()
add_test(NAME web_browser COMMAND ${TAVRIN_NODE} --test ${CMAKE_CURRENT_SOURCE_DIR}/web/browser.test.mjs)
set_tests_properties(web_browser PROPERTIES
  ENVIRONMENT "${web_test_env};TAVRIN_CHROMIUM=${TAVRIN_CHROMIUM};TAVRIN_SCREENSHOT_DIR=${CMAKE_CURRENT_BINARY_DIR}/web/screenshots"
  LABELS web TIMEOUT 600 RUN_SERIAL TRUE)
add_test(NAME web_views COMMAND ${TAVRIN_NODE} --test ${CMAKE_CURRENT_SOURCE_DIR}/web/views.test.mjs)
set_tests_properties(web_views PROPERTIES
  ENVIRONMENT "${web_test_env};TAVRIN_CHROMIUM=${TAVRIN_CHROMIUM};TAVRIN_SCREENSHOT_DIR=${CMAKE_CURRENT_BINARY_DIR}/web/screenshots"
  LABELS web TIMEOUT 600 RUN_SERIAL TRUE)
add_test(NAME web_report COMMAND ${TAVRIN_NODE} --test ${CMAKE_CURRENT_SOURCE_DIR}/web/report.test.mjs)
set_tests_properties(web_report PROPERTIES
  ENVIRONMENT "${web_test_env};TAVRIN_CHROMIUM=${TAVRIN_CHROMIUM};TAVRIN_SCREENSHOT_DIR=${CMAKE_CURRENT_BINARY_DIR}/web/screenshots"
  LABELS web TIMEOUT 600 RUN_SERIAL TRUE)
add_test(NAME web_model COMMAND ${TAVRIN_NODE} --test ${CMAKE_CURRENT_SOURCE_DIR}/web/model.test.mjs)
set_tests_properties(web_model PROPERTIES
  ENVIRONMENT "${web_test_env};TAVRIN_CHROMIUM=${TAVRIN_CHROMIUM}" LABELS web TIMEOUT 300 RUN_SERIAL TRUE)
