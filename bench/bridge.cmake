# scan_bench: one scan run of many jobs on the full worker pool against the
# network lab (run by hand: tests/lab/in-lab.sh -- build/<dir>/bench/scan_bench).
add_executable(scan_bench ${CMAKE_CURRENT_LIST_DIR}/scan_bench.cpp)
tv_target_defaults(scan_bench)
target_link_libraries(scan_bench PRIVATE tv_bridge)
