# Build-wide instrumentation switches, included right after project():
#
#   HC_SANITIZE  every target compiled and linked with AddressSanitizer and
#                UndefinedBehaviorSanitizer; undefined behaviour aborts at
#                the first report instead of printing and going on.
#   HC_FUZZ      the project's code also carries libFuzzer's coverage
#                instrumentation (-fsanitize=fuzzer-no-link) and the fuzz
#                targets in fuzz/ are built; needs clang.
#   HC_CCACHE    compile through ccache when it is installed and no launcher
#                was chosen on the command line.
#
# The flags apply to the project's own code only: Qt, gumbo and the other
# system libraries are used as installed, uninstrumented.

option(HC_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(HC_FUZZ "Add libFuzzer coverage instrumentation and build the fuzz targets" OFF)
option(HC_CCACHE "Compile through ccache when it is available" ON)

if(HC_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  find_program(HC_CCACHE_PROGRAM ccache)
  if(HC_CCACHE_PROGRAM)
    set(CMAKE_CXX_COMPILER_LAUNCHER ${HC_CCACHE_PROGRAM})
  endif()
endif()

if(HC_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(HC_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "HC_FUZZ needs clang (libFuzzer); configure with the asan preset")
  endif()
  # Coverage counters and comparison hooks in every object; the fuzzer's own
  # runtime and main() are linked into the fuzz targets only, so the other
  # programs and the tests keep their own main().
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
