# The analysis against statsmodels: a small driver prints the layer's
# reports as JSON and a pytest compares them with an independent fit.
add_executable(analysis_report_tool ${CMAKE_CURRENT_SOURCE_DIR}/analysis/report_tool.cpp)
target_link_libraries(analysis_report_tool PRIVATE tavrin_study tavrin_options nlohmann_json::nlohmann_json)
add_test(NAME analysis_statsmodels
  COMMAND /usr/bin/python3 -m pytest -q -p no:cacheprovider ${CMAKE_CURRENT_SOURCE_DIR}/analysis)
set_tests_properties(analysis_statsmodels PROPERTIES
  ENVIRONMENT "TAVRIN_ANALYSIS_TOOL=$<TARGET_FILE:analysis_report_tool>"
  LABELS analysis TIMEOUT 300)

# Model building (chosen terms, blocks, ANOVA, reduction, diagnostics,
# Box-Cox) against statsmodels formulas on the same rows.
add_executable(analysis_model_tool ${CMAKE_CURRENT_SOURCE_DIR}/analysis/model_tool.cpp)
target_link_libraries(analysis_model_tool PRIVATE tavrin_study tavrin_options nlohmann_json::nlohmann_json)
set_tests_properties(analysis_statsmodels PROPERTIES
  ENVIRONMENT "TAVRIN_ANALYSIS_TOOL=$<TARGET_FILE:analysis_report_tool>;TAVRIN_MODEL_TOOL=$<TARGET_FILE:analysis_model_tool>")
