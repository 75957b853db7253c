# The study-layer example: a whole study from plan to saved study file.
# Included from examples/CMakeLists.txt when the layer is built.
add_executable(tavrin_process_study ${CMAKE_CURRENT_LIST_DIR}/process_study.cpp)
target_link_libraries(tavrin_process_study PRIVATE tavrin_study tavrin_options)
if(TAVRIN_BUILD_TESTS)
  add_test(NAME example_process_study COMMAND tavrin_process_study WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  # COST: its seconds under ASan, so that a parallel test run starts it early.
  set_tests_properties(example_process_study PROPERTIES LABELS example TIMEOUT 120 COST 34)
endif()
