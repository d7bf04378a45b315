# Page benchmark (not a test): `cmake --build <dir> --target bench_page`.
find_program(TV_NODE node)
if(TV_NODE)
  add_custom_target(bench_page
    COMMAND ${TV_NODE} ${CMAKE_CURRENT_SOURCE_DIR}/page_bench.mjs ${CMAKE_BINARY_DIR}/web/page.html
    DEPENDS tv_page_html
    USES_TERMINAL
    COMMENT "Page benchmark: 3000 results into the domain table and the matrix")
endif()
