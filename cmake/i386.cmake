# Builds the 32-bit x86 program on a 64-bit Debian host, and runs its tests under an emulator
# when one is installed (a kernel without 32-bit support cannot run them itself).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")

set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

find_program(OSTREL_I386_EMULATOR NAMES qemu-i386 qemu-i386-static)
if(OSTREL_I386_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${OSTREL_I386_EMULATOR}")
endif()
