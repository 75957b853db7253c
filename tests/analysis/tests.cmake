# The analysis against statsmodels: a small driver prints the layer's
# results as JSON and the pytests compare them with independent fits.
add_executable(analysis_tool ${CMAKE_CURRENT_SOURCE_DIR}/analysis/analysis_tool.cpp)
target_link_libraries(analysis_tool PRIVATE tavrin_study tavrin_options nlohmann_json::nlohmann_json)
add_test(NAME analysis_statsmodels
  COMMAND /usr/bin/python3 -m pytest -q -p no:cacheprovider ${CMAKE_CURRENT_SOURCE_DIR}/analysis)
set_tests_properties(analysis_statsmodels PROPERTIES
  ENVIRONMENT "TAVRIN_ANALYSIS_TOOL=$<TARGET_FILE:analysis_tool>" LABELS analysis TIMEOUT 300)
