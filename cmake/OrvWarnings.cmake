# Warnings for every target of the project: orv_warnings is linked PRIVATE so
# that the flags never leak to consumers outside the tree.
add_library(orv_warnings INTERFACE)
target_compile_options(orv_warnings INTERFACE -Wall -Wextra -Wpedantic)
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  target_compile_options(orv_warnings INTERFACE -Wthread-safety)
endif()
