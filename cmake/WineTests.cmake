# Tests of the Windows build run under Wine, in a prefix made afresh for each test run (the
# fixture "wine": made by the first test, stopped after the last one).
#
#   quenvar_add_wine_test(NAME COMMAND PROGRAM [ARG...] [X10SIM [X10SIM_OPTION...]])
#
# adds the CTest test NAME that runs PROGRAM (a target of this build or a path in the prefix,
# such as C:/windows/system32/cscript.exe) with Wine's loader for this build's architecture.
# With X10SIM the test gets x10sim behind COM1 (options as x10sim takes them, e.g.
# --power-fail) and its record of the wire in the file named by QUENVAR_X10SIM_LOG; such tests
# take COM1 one at a time. Tests in the shared prefix run one at a time (its registry).

set(QUENVAR_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine/prefix)
set(QUENVAR_COM1_LINK ${CMAKE_BINARY_DIR}/wine/com1)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(QUENVAR_WINE_LOADER /usr/lib/wine/wine64)
  quenvar_require_path(${QUENVAR_WINE_LOADER} WHAT "Wine's 64-bit loader" DEBIAN wine64)
else()
  # The 32-bit loader: the program sees syswow64 as its system32, as on 64-bit Windows.
  set(QUENVAR_WINE_LOADER /usr/lib/wine/wine)
  quenvar_require_path(${QUENVAR_WINE_LOADER} WHAT "Wine's 32-bit loader" DEBIAN wine32:i386)
endif()
set(QUENVAR_WINE_SCRIPTS ${PROJECT_SOURCE_DIR}/tests/windows)

add_test(NAME wine.prefix
    COMMAND ${QUENVAR_WINE_SCRIPTS}/wine-prefix.sh create ${QUENVAR_WINE_PREFIX} ${QUENVAR_COM1_LINK})
set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
add_test(NAME wine.stop COMMAND ${QUENVAR_WINE_SCRIPTS}/wine-prefix.sh stop ${QUENVAR_WINE_PREFIX})
set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine)

function(quenvar_add_wine_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "COMMAND;X10SIM")
  set(simulator)
  # Tests register and unregister the control in the prefix's one registry, and a test that
  # checks what unregistering left must not see another test register it meanwhile.
  set(locks wine-registry)
  if(DEFINED arg_X10SIM OR "X10SIM" IN_LIST arg_KEYWORDS_MISSING_VALUES)
    set(simulator --x10sim ${QUENVAR_X10SIM} ${QUENVAR_COM1_LINK} ${arg_X10SIM} --)
    list(APPEND locks com1)
  endif()

  add_test(NAME ${name}
      COMMAND ${QUENVAR_WINE_SCRIPTS}/run-in-wine.sh ${QUENVAR_WINE_LOADER} ${QUENVAR_WINE_PREFIX} ${simulator}
              ${arg_COMMAND})
  # 77: the machine cannot run this architecture's programs at all (run-in-wine.sh says so).
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 120 RESOURCE_LOCK "${locks}"
                                          SKIP_RETURN_CODE 77)
endfunction()
