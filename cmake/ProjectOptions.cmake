# Warnings, sanitizers and the fuzz-target helper shared by every target.

set(PTZ_WARNINGS -Wall -Wextra -Wshadow -Wmissing-declarations)
add_compile_options(${PTZ_WARNINGS}
                    $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>)
if(PTZ_WERROR)
  add_compile_options(-Werror)
endif()
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  # GoogleTest macros and GLib headers trip these under clang only.
  add_compile_options(-Wno-gnu-zero-variadic-macro-arguments -Wno-unused-command-line-argument)
endif()

if(PTZ_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(PTZ_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "PTZ_FUZZ needs clang (libFuzzer)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# ptz_add_fuzzer(NAME SOURCES src... LIBS lib... [CORPUS dir])
# Builds a libFuzzer target when PTZ_FUZZ is on and registers a short ctest
# run (PTZ_FUZZ_SECONDS) that replays and extends a copy of its seed corpus,
# tests/fuzz/corpus/NAME (small committed seeds plus every input that once
# found a fault). tools/fuzz-campaign.sh runs the same targets for longer.
# CORPUS names another seed directory for a target that has none there yet.
function(ptz_add_fuzzer name)
  cmake_parse_arguments(F "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  if(NOT PTZ_FUZZ)
    return()
  endif()
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  # One string: a CMake list would reach sh joined with ";".
  set(args "-max_total_time=${PTZ_FUZZ_SECONDS} -rss_limit_mb=2048 -timeout=10")
  set(work ${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus)
  set(seeds ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${name})
  if(F_CORPUS AND NOT EXISTS ${seeds})
    set(seeds ${F_CORPUS})
  endif()
  add_test(NAME ${name}
           COMMAND sh -c "rm -rf '${work}' && mkdir -p '${work}' && if [ -d '${seeds}' ]; then cp -r '${seeds}/.' '${work}'; fi && exec '$<TARGET_FILE:${name}>' ${args} '${work}'")
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 600)
endfunction()
