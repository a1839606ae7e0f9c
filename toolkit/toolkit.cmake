# ostrel_toolkit_stubs(TARGET INPUT...): compiles into TARGET the stubs through which it calls
# the toolkit (stubs.cmake): one for each toolkit function that the INPUTs call, objects and
# archives, given as generator expressions like $<TARGET_FILE:lib>. TARGET links what makes them.
set(OSTREL_TOOLKIT_DIR ${CMAKE_CURRENT_LIST_DIR})

function(ostrel_toolkit_stubs target)
  set(stubs ${CMAKE_CURRENT_BINARY_DIR}/${target}_toolkit_stubs.c)
  math(EXPR bits "${CMAKE_SIZEOF_VOID_P} * 8")
  add_custom_command(OUTPUT ${stubs}
    COMMAND ${CMAKE_COMMAND} -D nm=${CMAKE_NM} -D bits=${bits} -D output=${stubs} "-Dinputs=${ARGN}"
      -P ${OSTREL_TOOLKIT_DIR}/stubs.cmake
    DEPENDS ${ARGN} ${OSTREL_TOOLKIT_DIR}/stubs.cmake
    COMMENT "Toolkit stubs of ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE ${stubs})
endfunction()
