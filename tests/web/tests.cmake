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
# One headless-Chromium session per page or view, one at a time; the other
# tests go on beside it.
foreach(page IN ITEMS browser define views report)
  add_test(NAME web_${page} COMMAND ${TAVRIN_NODE} --test ${CMAKE_CURRENT_SOURCE_DIR}/web/${page}.test.mjs)
  set_tests_properties(web_${page} PROPERTIES
    ENVIRONMENT "${web_test_env};TAVRIN_CHROMIUM=${TAVRIN_CHROMIUM};TAVRIN_SCREENSHOT_DIR=${CMAKE_CURRENT_BINARY_DIR}/web/screenshots"
    LABELS web TIMEOUT 600 RESOURCE_LOCK chromium)
endforeach()
