# How the product's targets are made. Every library of product code is a
# shared library, so a program and the device library it loads share one
# platform: one backend, one station clock, one set of process-wide locks.
# A library linked statically into both would give each its own copy.
#
#   kestrova_add_library(<name> <sources>...)   shared library in KESTROVA_LIBRARY_DIR
#   kestrova_add_program(<name> <sources>...)   program in KESTROVA_PROGRAM_DIR
#   kestrova_in_program_folder(<target>)        a program or shared/module library
#                                               (the device library) into the program folder
#   kestrova_add_tests(<name> <sources>... LINK <libs>...)       GoogleTest program on the bench
#   kestrova_add_benchmarks(<name> <sources>... LINK <libs>...)  benchmark program on the bench
#   kestrova_add_fuzzer(<name> <sources>... LINK <libs>...)      libFuzzer program on the bench
#
# A program links the backend selection it runs on (`backend_select`: the
# simulated bench); libraries link `platform_core` and never a selection.

# The program folder: the programs and the device library, which finds the
# product's libraries in KESTROVA_LIBRARY_DIR through its run path.
set(KESTROVA_PROGRAM_DIR ${PROJECT_BINARY_DIR}/bin)
set(KESTROVA_LIBRARY_DIR ${PROJECT_BINARY_DIR}/lib)

# LOADED: a shared library the program needs although it calls nothing in
# it (the libraries below call into it), kept past the linker's --as-needed.
set(CMAKE_LINK_LIBRARY_USING_LOADED
    "LINKER:--push-state,--no-as-needed" "<LINK_ITEM>" "LINKER:--pop-state")
set(CMAKE_LINK_LIBRARY_USING_LOADED_SUPPORTED TRUE)

function(kestrova_add_library name)
  add_library(${name} SHARED ${ARGN})
  # $ORIGIN: the libraries find each other wherever the folder is moved.
  set_target_properties(${name} PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY ${KESTROVA_LIBRARY_DIR}
    BUILD_WITH_INSTALL_RPATH ON
    INSTALL_RPATH "$ORIGIN")
endfunction()

function(kestrova_in_program_folder target)
  # The relative run path works wherever bin/ and lib/ go together; the
  # build tree's own entry keeps a copy that a test puts elsewhere working.
  set_target_properties(${target} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${KESTROVA_PROGRAM_DIR}
    LIBRARY_OUTPUT_DIRECTORY ${KESTROVA_PROGRAM_DIR}
    BUILD_RPATH "$ORIGIN/../lib"
    INSTALL_RPATH "$ORIGIN/../lib")
endfunction()

function(kestrova_add_program name)
  add_executable(${name} ${ARGN})
  kestrova_in_program_folder(${name})
endfunction()

# Tests, benchmarks and fuzzers run on the simulated bench and may reach
# into it for fixtures and fault injection.
function(kestrova_bench_program name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "" "LINK")
  add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${ARG_LINK} sim backend_select)
endfunction()

function(kestrova_add_tests name)
  kestrova_bench_program(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name} NO_PRETTY_VALUES DISCOVERY_TIMEOUT 60)
endfunction()

function(kestrova_add_benchmarks name)
  kestrova_bench_program(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE benchmark::benchmark)
endfunction()

function(kestrova_add_fuzzer name)
  kestrova_bench_program(${name} ${ARGN})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endfunction()
