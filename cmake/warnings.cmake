# One set of warnings for every module; the presets that CI runs turn them into errors.
option(BRENVIK_WERROR "Treat compiler warnings as errors" OFF)
add_library(brenvik_warnings INTERFACE)
target_compile_options(brenvik_warnings INTERFACE
  $<$<CXX_COMPILER_ID:GNU,Clang>:-Wall -Wextra -Wpedantic>
  $<$<AND:$<BOOL:${BRENVIK_WERROR}>,$<CXX_COMPILER_ID:GNU,Clang>>:-Werror>)
