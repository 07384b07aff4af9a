# Compiler and linker settings shared by every target of a build.

add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wcast-qual -Wformat=2)
if(CORVEL_WERROR)
  add_compile_options(-Werror)
endif()

if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CORVEL_ARCH x64)
  else()
    set(CORVEL_ARCH x32)
  endif()
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601)
  # Every Windows executable, tests included, is self-contained. The stack
  # protector option at link time makes the driver append libssp after all
  # libraries, where its archive resolves their references (see below).
  add_link_options(-static -fstack-protector-strong)
  # The executables link their runtime statically and import only system DLLs.
  # Exceptions and RTTI are unused and would pull the C++ runtime's unwinder in.
  set(CORVEL_PROGRAM_COMPILE_OPTIONS
      -municode -fno-exceptions -fno-rtti -fstack-protector-strong
      $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
  # The same sources give the same bytes: the linker would otherwise stamp the
  # link time into the PE header (and the checksum over it), and __FILE__ and
  # debug paths would carry the build folder.
  add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=
                      -ffile-prefix-map=${PROJECT_BINARY_DIR}/=)
  set(CORVEL_PROGRAM_LINK_OPTIONS
      -municode -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp
      -Wl,--dynamicbase -Wl,--nxcompat -Wl,--tsaware
      $<$<CONFIG:MinSizeRel,Release>:-s>)
  if(CORVEL_ARCH STREQUAL "x64")
    list(APPEND CORVEL_PROGRAM_LINK_OPTIONS -Wl,--high-entropy-va)
  else()
    list(APPEND CORVEL_PROGRAM_LINK_OPTIONS -Wl,--large-address-aware)
  endif()
  # The stack protector and the fortified string functions live in libssp. It
  # must come after every library that uses it, so it is not named on the link
  # line: -fstack-protector-strong when linking makes the driver append it at
  # the very end, and -static makes that the archive, not a DLL to ship.
  set(CORVEL_PROGRAM_LINK_LIBRARIES)
elseif(CORVEL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Applies the program settings to a target built for Windows.
function(corvel_windows_target target)
  target_compile_options(${target} PRIVATE ${CORVEL_PROGRAM_COMPILE_OPTIONS})
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    target_link_options(${target} PRIVATE ${CORVEL_PROGRAM_LINK_OPTIONS})
    target_link_libraries(${target} PRIVATE ${CORVEL_PROGRAM_LINK_LIBRARIES})
  endif()
endfunction()
