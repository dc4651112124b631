# The configure step as a newcomer and an IDE meet it:
#  - every build `make` uses has a configure, build and test preset, in the folder the Makefile
#    uses, and the sanitize test preset runs with the options scripts/run-tests.sh sets;
#  - the plain preset configures, with every folder of the Linux build in it;
#  - a missing dependency stops the configure step with the Debian package that brings it.
#
#   cmake -DSOURCE_DIR=... -DWORK_DIR=... -P ConfigureTest.cmake

set(failures 0)
function(fail text)
  message(SEND_ERROR "${text}")
  math(EXPR failures "${failures} + 1")
  set(failures ${failures} PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
file(READ ${SOURCE_DIR}/CMakePresets.json presets)
file(READ ${SOURCE_DIR}/Makefile makefile)

# preset name, the Makefile's variable for its folder, the folder, whether CTest runs it.
set(builds
    plain:BUILD_DIR:build:tested
    sanitize:SANITIZE_DIR:build-sanitize:tested
    fuzz:FUZZ_DIR:build-fuzz:fuzzed
    win32:WIN32_DIR:build-win32:tested
    win64:WIN64_DIR:build-win64:tested)
execute_process(COMMAND ${CMAKE_COMMAND} --list-presets=all WORKING_DIRECTORY ${SOURCE_DIR}
                OUTPUT_VARIABLE listed RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  fail("cmake --list-presets=all failed: ${listed}")
endif()
foreach(build IN LISTS builds)
  string(REPLACE ":" ";" build ${build})
  list(GET build 0 name)
  list(GET build 1 variable)
  list(GET build 2 folder)
  list(GET build 3 use)
  string(REGEX MATCH "Available configure presets:.*\"${name}\".*Available build presets:.*\"${name}\"" shown "${listed}")
  if(NOT shown)
    fail("the presets listed lack the configure or build preset ${name}:\n${listed}")
  endif()
  if(use STREQUAL "tested" AND NOT listed MATCHES "Available test presets:.*\"${name}\"")
    fail("the presets listed lack the test preset ${name}:\n${listed}")
  endif()
  if(NOT makefile MATCHES "\n${variable} +\\?= ${folder}\n")
    fail("the Makefile's ${variable} is not ${folder}")
  endif()
  if(NOT presets MATCHES "\"name\": \"${name}\",[^}]*\"binaryDir\": \"\\\${sourceDir}/${folder}\"")
    fail("the configure preset ${name} does not build in ${folder}, where the Makefile does")
  endif()
endforeach()

# The sanitizers' options: the same for `ctest --preset sanitize` as for `make test-sanitize`.
file(READ ${SOURCE_DIR}/scripts/run-tests.sh runner)
string(JSON count LENGTH "${presets}" testPresets)
math(EXPR last "${count} - 1")
foreach(index RANGE ${last})
  string(JSON preset_name GET "${presets}" testPresets ${index} name)
  if(preset_name STREQUAL "sanitize")
    foreach(option ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS)
      string(JSON value GET "${presets}" testPresets ${index} environment ${option})
      string(REPLACE "\${sourceDir}" "$root" value "${value}")
      string(FIND "${runner}" "export ${option}=\"${value}\"" found)
      if(found EQUAL -1)
        fail("the sanitize test preset sets ${option}=${value}, scripts/run-tests.sh does not")
      endif()
    endforeach()
  endif()
endforeach()

# The plain preset configures (into a folder of the test's own).
execute_process(COMMAND ${CMAKE_COMMAND} --preset plain -S ${SOURCE_DIR} -B ${WORK_DIR}/plain
                OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  fail("cmake --preset plain failed:\n${output}")
else()
  file(STRINGS ${WORK_DIR}/plain/CMakeCache.txt cache REGEX "^(CMAKE_BUILD_TYPE|CMAKE_GENERATOR):")
  if(NOT cache STREQUAL "CMAKE_BUILD_TYPE:STRING=RelWithDebInfo;CMAKE_GENERATOR:INTERNAL=Ninja")
    fail("the plain preset configured ${cache}")
  endif()
  # Folders are listed one by one: a folder of the Linux build missing from its parent's list
  # would silently build and test nothing.
  execute_process(COMMAND git ls-files "*CMakeLists.txt" WORKING_DIRECTORY ${SOURCE_DIR}
                  OUTPUT_VARIABLE tracked OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(REPLACE "\n" ";" tracked "${tracked}")
  foreach(file IN LISTS tracked)
    get_filename_component(folder ${file} DIRECTORY)
    if(folder AND NOT folder MATCHES "(^|/)windows(/|$)|^fuzz$" AND NOT EXISTS ${WORK_DIR}/plain/${folder}/cmake_install.cmake)
      fail("the folder ${folder} is not added by its parent's CMakeLists.txt")
    endif()
  endforeach()
endif()

# A missing dependency (hidden from find_package) stops the configure step, naming its package.
set(missing GTest:libgtest-dev Qt6SerialPort:qt6-serialport-dev Qt6Widgets:qt6-base-dev OpenGL:libgl-dev)
foreach(case IN LISTS missing)
  string(REPLACE ":" ";" case ${case})
  list(GET case 0 package)
  list(GET case 1 debian_package)
  file(REMOVE_RECURSE ${WORK_DIR}/missing)
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/missing -G Ninja
                          -DCMAKE_DISABLE_FIND_PACKAGE_${package}=TRUE
                  OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE status)
  string(REGEX REPLACE "[ \n]+" " " output "${output}")
  if(status EQUAL 0)
    fail("the configure step went on without ${package}")
  elseif(NOT output MATCHES "${package}.* was not found.*Debian package ${debian_package}.*make deps")
    fail("without ${package} the configure step did not name ${debian_package} and make deps:\n${output}")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK_DIR})
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} check(s) failed")
endif()
