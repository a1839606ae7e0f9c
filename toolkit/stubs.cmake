# Writes the toolkit stubs of one program: for every toolkit function that its objects and
# archives call, a function of that name, hidden from the dynamic symbol table, that jumps
# through an entry of an address table. openToolkit fills the table once the toolkit is open.
# A stub is a single indirect jump that leaves the stack and every argument register as the
# caller set them, so variadic calls (g_object_set-like ones, %al on x86-64) pass unchanged.
# Usage: cmake -D nm=NM -D bits=64|32 -D output=FILE.c -D "inputs=OBJECT_OR_ARCHIVE;..." -P stubs.cmake
cmake_minimum_required(VERSION 3.18)

set(names "")
foreach(input IN LISTS inputs)
  execute_process(COMMAND ${nm} -P -u ${input} OUTPUT_VARIABLE listing RESULT_VARIABLE result
    ERROR_VARIABLE errors)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${nm} cannot list ${input}: ${errors}")
  endif()
  string(REGEX MATCHALL "(^|\n)(gtk|gdk|pango|atk|cairo)_[A-Za-z0-9_]* U" calls "${listing}")
  foreach(call IN LISTS calls)
    string(REGEX REPLACE "^\n?([A-Za-z0-9_]+) U$" "\\1" name "${call}")
    list(APPEND names ${name})
  endforeach()
endforeach()
list(REMOVE_DUPLICATES names)
list(SORT names)
list(LENGTH names count)

set(text "/* The toolkit stubs of one program, written by toolkit/stubs.cmake at build time. */\n")
string(APPEND text "#define HIDDEN __attribute__((visibility(\"hidden\")))\n")
string(APPEND text "void ostrelToolkitUnbound(void);\n")
string(APPEND text "HIDDEN const unsigned ostrelToolkitCount = ${count};\n")
string(APPEND text "HIDDEN const char* const ostrelToolkitNames[${count} + 1] = {\n")
foreach(name IN LISTS names)
  string(APPEND text "    \"${name}\",\n")
endforeach()
string(APPEND text "    0};\n")
string(APPEND text "HIDDEN void* ostrelToolkitAddresses[${count} + 1] = {\n")
foreach(name IN LISTS names)
  string(APPEND text "    (void*)ostrelToolkitUnbound,\n")
endforeach()
string(APPEND text "    0};\n\n__asm__(\n    \".text\\n\"\n")
if(bits EQUAL 32)
  # No register holds an argument at a call on i386, and %eax none that the callee reads: the
  # stub takes the table's address into it, position-independently, as compiled code does.
  string(APPEND text "    \".p2align 4\\n\"\n    \"ostrelToolkitPc:\\n\"\n"
    "    \"    movl (%esp), %eax\\n\"\n    \"    ret\\n\"\n")
endif()
set(index 0)
foreach(name IN LISTS names)
  string(APPEND text "    \".p2align 4\\n\"\n    \".globl ${name}\\n\"\n    \".hidden ${name}\\n\"\n"
    "    \".type ${name}, @function\\n\"\n    \"${name}:\\n\"\n")
  if(bits EQUAL 32)
    math(EXPR offset "${index} * 4")
    string(APPEND text "    \"    call ostrelToolkitPc\\n\"\n"
      "    \"    addl $_GLOBAL_OFFSET_TABLE_, %eax\\n\"\n"
      "    \"    jmp *ostrelToolkitAddresses@GOTOFF+${offset}(%eax)\\n\"\n")
  else()
    math(EXPR offset "${index} * 8")
    string(APPEND text "    \"    jmp *ostrelToolkitAddresses+${offset}(%rip)\\n\"\n")
  endif()
  string(APPEND text "    \".size ${name}, .-${name}\\n\"\n")
  math(EXPR index "${index} + 1")
endforeach()
string(APPEND text ");\n")

file(WRITE ${output} "${text}")
