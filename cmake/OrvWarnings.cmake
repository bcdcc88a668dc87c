# Warnings for every target of the project: orv_warnings is linked PRIVATE so
# that the flags never leak to consumers outside the tree.
#
# Under clang the thread-safety analysis runs as well (the annotations of
# common/thread_annotations.h); its findings are errors, since a lock the
# analysis cannot follow is a lock nobody can check. ORV_WERROR makes every
# warning an error (CI builds).
option(ORV_WERROR "Treat every compiler warning as an error" OFF)
add_library(orv_warnings INTERFACE)
target_compile_options(orv_warnings INTERFACE -Wall -Wextra -Wpedantic)
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  target_compile_options(orv_warnings INTERFACE -Wthread-safety -Werror=thread-safety)
endif()
if(ORV_WERROR)
  target_compile_options(orv_warnings INTERFACE -Werror)
endif()
