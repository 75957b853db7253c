# The study layer's comparison with independent references (statsmodels,
# an independent MT19937-64), through a small tool that prints fits as JSON.
add_executable(study_fit_json ${CMAKE_CURRENT_LIST_DIR}/study_fit_json.cpp)
target_link_libraries(study_fit_json PRIVATE tavrin_study nlohmann_json::nlohmann_json tavrin_options)
add_test(NAME study_reference_pytest
  COMMAND /usr/bin/python3 -m pytest -q -p no:cacheprovider ${CMAKE_CURRENT_LIST_DIR})
set_tests_properties(study_reference_pytest PROPERTIES
  ENVIRONMENT "STUDY_FIT_JSON=$<TARGET_FILE:study_fit_json>" LABELS study TIMEOUT 300)
