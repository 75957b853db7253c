# The optimum's benchmarks (include from bench/CMakeLists.txt when the study
# layer is built). `optimum_bench --export FILE` writes the studies for the
# scipy peer, bench/peer_optimum.py.
add_executable(optimum_bench ${CMAKE_CURRENT_LIST_DIR}/optimum_bench.cpp)
# Linked from the layer's objects, as its unit tests are, so that the
# global stage can be timed on its own.
target_link_libraries(optimum_bench PRIVATE tavrin_kernels tavrin_designs_core tavrin_study_core tavrin_analysis_core
                      tavrin_optimum_core Tavrin::tavrin tavrin_options benchmark::benchmark
                      nlohmann_json::nlohmann_json)
