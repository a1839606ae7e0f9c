# ostrel_baseline(TARGET): holds a target of a shipped program to what the oldest systems we run
# on offer (glibc 2.17, GLib 2.28, GTK+ 2.24), built with the compilers of this machine.
# - GLib: its own version macros turn a call newer than 2.28 into a warning, which -Werror makes
#   an error. GTK+ 2.24 is the last GTK+ 2 and has no such macros: nothing newer can be called.
# - No C++ runtime: nothing throws or asks for type information, so no libstdc++ or libgcc_s
#   is needed, and none is linked: the link is C's, where a use of the runtime fails to link.
# - The C library: baseline.c binds the few calls that would need a newer glibc to their oldest
#   versions. Sanitizer and fuzz builds are never shipped, and their runtimes want today's.
set(OSTREL_BASELINE_DIR ${CMAKE_CURRENT_LIST_DIR})

#
# ostrel_baseline(TARGET [DLOPEN]): DLOPEN for a program that opens libraries at run time,
# whose dlopen and dlsym then come from libdl, where the oldest systems keep them.
function(ostrel_baseline target)
  cmake_parse_arguments(PARSE_ARGV 1 BASELINE "DLOPEN" "" "")
  target_compile_definitions(${target} PRIVATE
    GLIB_VERSION_MIN_REQUIRED=GLIB_VERSION_2_28
    GLIB_VERSION_MAX_ALLOWED=GLIB_VERSION_2_28)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE" AND NOT OSTREL_SANITIZE AND NOT OSTREL_FUZZ)
    target_sources(${target} PRIVATE ${OSTREL_BASELINE_DIR}/baseline.c)
    set_target_properties(${target} PROPERTIES LINKER_LANGUAGE C)
    # Each of these names a function of baseline.c.
    target_link_options(${target} PRIVATE
      -Wl,--wrap=__libc_start_main -Wl,--wrap=memcpy -Wl,--wrap=stat64 -Wl,--wrap=lstat64
      -Wl,--wrap=fcntl64
      -Wl,--as-needed)
    if(BASELINE_DLOPEN)
      target_sources(${target} PRIVATE ${OSTREL_BASELINE_DIR}/dlopen.c)
      target_link_options(${target} PRIVATE -Wl,--wrap=dlopen -Wl,--wrap=dlsym)
      # Needed even where the C library has taken its calls over and nothing comes from it;
      # the shared object itself, as newer systems link -ldl to an empty archive.
      target_link_libraries(${target} PRIVATE -Wl,--push-state,--no-as-needed -l:libdl.so.2 -Wl,--pop-state)
    endif()
  endif()
endfunction()
