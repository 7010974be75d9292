# Adds each listed folder that already has a CMakeLists.txt, so areas can grow independently.
function(ls_add_subdirectories)
  foreach(dir IN LISTS ARGN)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()

# Adds every direct subfolder that has a CMakeLists.txt (tests/, bench/, fuzz/).
function(ls_add_all_subdirectories)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# ls_add_qtest(name SOURCES a.cpp ... LIBS lib ...): a QtTest program registered with CTest.
function(ls_add_qtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE Qt5::Test ${T_LIBS})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  if(T_TIMEOUT)
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  endif()
endfunction()

# ls_add_fuzzer(name SOURCES a.cpp LIBS lib ... CORPUS dir): a libFuzzer target; fuzz.sh runs it on its corpus.
# It is also a short CTest test (LS_FUZZ_TEST_SECONDS of fuzzing from the seed corpus); what it finds new
# goes to a folder in the build tree, never into the seed corpus.
set(LS_FUZZ_TEST_SECONDS 10 CACHE STRING "Seconds each fuzz target runs as a CTest test")
function(ls_add_fuzzer name)
  cmake_parse_arguments(F "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_property(GLOBAL APPEND PROPERTY LS_FUZZERS "${name}=${F_CORPUS}")
  set(found ${CMAKE_CURRENT_BINARY_DIR}/${name}_found)
  file(MAKE_DIRECTORY ${found})
  add_test(NAME ${name} COMMAND ${name} -max_total_time=${LS_FUZZ_TEST_SECONDS} ${found} ${F_CORPUS})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
                       TIMEOUT 120)
endfunction()
