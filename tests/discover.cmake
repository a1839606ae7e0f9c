# Run after a test program is built: lists its tests and writes the CTest file that adds them,
# with their labels, their environment and a display of their own where they need one.
# Usage: cmake -D settings=<NAME_settings.cmake> -P discover.cmake
cmake_minimum_required(VERSION 3.18)
include(${settings})

execute_process(COMMAND ${emulator} ${executable} --gtest_list_tests
  OUTPUT_VARIABLE listing RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${executable} could not list its tests (${result}):\n${errors}")
endif()

# "Suite." lines, each followed by "  Test" lines; parameterised ones carry a "  # GetParam()".
set(names "")
string(REPLACE "\n" ";" lines "${listing}")
foreach(line IN LISTS lines)
  string(REGEX REPLACE " *#.*$" "" line "${line}")
  if(line MATCHES "^([^ ]+\\.)$")
    set(suite ${CMAKE_MATCH_1})
  elseif(line MATCHES "^  ([^ ]+)$")
    list(APPEND names "${suite}${CMAKE_MATCH_1}")
  endif()
endforeach()

# A group's labels: those of any of its tests.
function(labels_of tests out)
  set(labels "")
  foreach(test IN LISTS tests)
    if(without_display STREQUAL "" OR NOT test MATCHES "${without_display}")
      list(APPEND labels gui)
    endif()
    if(NOT slow STREQUAL "" AND test MATCHES "${slow}")
      list(APPEND labels slow)
    endif()
    if(NOT cpu STREQUAL "" AND test MATCHES "${cpu}")
      list(APPEND labels cpu)
    endif()
  endforeach()
  list(REMOVE_DUPLICATES labels)
  set(${out} "${labels}" PARENT_SCOPE)
endfunction()

# Groups: one per test, or under an emulator up to four tests of one suite, which share the
# slow start of a test process and still leave tests to run side by side.
set(groups "")
set(filters "")
set(previous "")
foreach(test IN LISTS names)
  string(REGEX REPLACE "\\.[^.]*$" "" suite "${test}")
  if(grouping STREQUAL "test" OR NOT suite STREQUAL previous OR count EQUAL 4)
    set(count 0)
    set(part 0)
    if(suite STREQUAL previous)
      math(EXPR part "${part_of_previous} + 1")
    endif()
    set(part_of_previous ${part})
    if(grouping STREQUAL "test")
      list(APPEND groups "${test}")
    else()
      list(APPEND groups "${suite}.part${part}")
    endif()
    list(APPEND filters "${test}")
  else()
    list(POP_BACK filters filter)
    list(APPEND filters "${filter}:${test}")
  endif()
  math(EXPR count "${count} + 1")
  set(previous "${suite}")
endforeach()

set(script "")
foreach(group filter IN ZIP_LISTS groups filters)
  string(REPLACE ":" ";" members "${filter}")
  labels_of("${members}" labels)
  set(variables ${environment})
  if(NOT "gui" IN_LIST labels)
    list(APPEND variables OSTREL_NO_DISPLAY=1)
  endif()
  # A core's worth of the slots: make check runs several tests per core, as most of them wait.
  set(processors 1)
  if("cpu" IN_LIST labels)
    set(processors 4)
  endif()
  string(APPEND script
    "add_test([==[${group}]==] ${emulator} [==[${executable}]==] [==[--gtest_filter=${filter}]==])\n"
    "set_tests_properties([==[${group}]==] PROPERTIES WORKING_DIRECTORY [==[${directory}]==]"
    " LABELS [==[${labels}]==] ENVIRONMENT [==[${variables}]==] PROCESSORS ${processors} TIMEOUT 600)\n")
endforeach()
file(WRITE ${output} "${script}")
