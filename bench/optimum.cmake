# The optimum's benchmarks (include from bench/CMakeLists.txt when the study
# layer is built). `optimum_bench --export FILE` writes the studies for the
# scipy peer, bench/peer_optimum.py.
add_executable(optimum_bench ${CMAKE_CURRENT_LIST_DIR}/optimum_bench.cpp)
target_link_libraries(optimum_bench PRIVATE tavrin_study tavrin_options benchmark::benchmark
                      nlohmann_json::nlohmann_json)
