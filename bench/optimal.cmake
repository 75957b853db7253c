# The optimal designs' benchmark (include from bench/CMakeLists.txt when the
# study layer is built); bench/compare_optimal runs it beside its numpy peer.
add_executable(optimal_bench ${CMAKE_CURRENT_LIST_DIR}/optimal_bench.cpp)
target_link_libraries(optimal_bench PRIVATE Tavrin::study tavrin_options benchmark::benchmark)
# Augmentation for the optimum against D- and I-optimal augmentation on
# simulated processes (figures in docs/optimal-designs.md).
add_executable(augment_simulation ${CMAKE_CURRENT_LIST_DIR}/augment_simulation.cpp)
target_link_libraries(augment_simulation PRIVATE Tavrin::study tavrin_options Eigen3::Eigen)
