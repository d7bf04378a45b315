# probe_bench: probeTarget on 48 threads against fast TLS servers, with curl
# through xargs -P48 doing the same work in the same run; figures as ratios.
# Run by hand inside the lab (see bench/README.md), never as a test.
add_executable(probe_bench ${CMAKE_CURRENT_LIST_DIR}/probe_bench.cpp)
tv_target_defaults(probe_bench)
target_link_libraries(probe_bench PRIVATE tv_probe)
