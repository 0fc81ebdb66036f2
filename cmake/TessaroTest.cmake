# tessaro_add_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>] [TIMEOUT <s>]
#                  [SCALES <factors...>])
# Widget tests run offscreen, so the suite needs no display; they leave the machine's router alone. SCALES runs the test once at each
# QT_SCALE_FACTOR given, for drawing that must hold on screens of any density.
function(tessaro_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS;SCALES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test ${T_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  tessaro_warnings(${name})
  if(T_SCALES)
    list(TRANSFORM T_SCALES REPLACE "(.+)" "QT_SCALE_FACTOR=\\1 $<TARGET_FILE:${name}>" OUTPUT_VARIABLE runs)
    list(JOIN runs " && " chain)
    add_test(NAME ${name} COMMAND sh -c "${chain}")
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TESSARO_PORT_MAPPING=off;ASAN_OPTIONS=detect_leaks=1:abort_on_error=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
    LABELS "${T_LABELS}"
    TIMEOUT ${T_TIMEOUT})
endfunction()
