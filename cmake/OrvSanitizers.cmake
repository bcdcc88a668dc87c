# Sanitizer builds: ORV_ASAN (address + undefined), ORV_TSAN (thread) or
# ORV_FUZZ (address + undefined, and every library instrumented for libFuzzer;
# the fuzz targets add -fsanitize=fuzzer themselves).
if((ORV_ASAN AND ORV_TSAN) OR (ORV_FUZZ AND (ORV_ASAN OR ORV_TSAN)))
  message(FATAL_ERROR "ORV_ASAN, ORV_TSAN and ORV_FUZZ cannot be combined")
endif()
if(ORV_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "ORV_FUZZ needs clang (libFuzzer): -DCMAKE_CXX_COMPILER=clang++")
  endif()
  add_compile_options(-fsanitize=address,undefined,fuzzer-no-link -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(ORV_ASAN)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(ORV_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
