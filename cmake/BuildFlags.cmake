# The flags that every build of the tree compiles and links with besides its
# build type's own.
#
# Linux: the hardening of Debian's own packages, Debian's flags with
# hardening=+all (stack protector, _FORTIFY_SOURCE, format checks, read-only
# relocations with immediate binding, and the compiler's default PIE), read
# from dpkg-buildflags as debian/rules takes them, so that the plain and
# Release builds run the code that the package ships. A package build brings
# them in CFLAGS, CXXFLAGS and LDFLAGS already. To them come the two that
# Debian 12's dpkg does not have yet and later ones add to hardening=+all:
# stack clash protection and the x86 control-flow protection (CET). The build
# type keeps its own optimisation and debug information; _FORTIFY_SOURCE needs
# an optimising build. The sanitizer and fuzz builds go without: their
# run-time libraries replace the checked functions that _FORTIFY_SOURCE calls.
#
# Windows: the stack protector, with its run-time support (libssp) linked in
# statically like everything else; ASLR with 64-bit addresses and DEP, with
# the base relocations that ASLR needs; and output that depends on nothing but
# the sources (no link time stamp, no directory names in the debug
# information), so that one commit builds the same kvelmar.exe anywhere.

if(WIN32)
  add_compile_options(-fstack-protector-strong
                      -ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
                      -ffile-prefix-map=${PROJECT_BINARY_DIR}=build)
  add_link_options(-fstack-protector-strong -Wl,--dynamicbase,--high-entropy-va,--nxcompat
                   -Wl,--no-insert-timestamp)
  return()
endif()

if(KV_ASAN OR KV_TSAN OR KV_FUZZ)
  return()
endif()
add_compile_options(-fstack-clash-protection -fcf-protection)
string(FIND " ${CMAKE_CXX_FLAGS} " " -fstack-protector-strong " kv_flags_given)
if(NOT kv_flags_given EQUAL -1)
  return()
endif()

find_program(KV_DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
set(kv_hardening -fstack-clash-protection -fcf-protection)
foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
            ${KV_DPKG_BUILDFLAGS} --get ${kind}
    OUTPUT_VARIABLE kv_flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(kv_flags UNIX_COMMAND "${kv_flags}")
  # Debian's -ffile-prefix-map names the directory dpkg-buildflags ran in.
  list(FILTER kv_flags EXCLUDE REGEX "^-(O.*|g|ffile-prefix-map=.*)$")
  foreach(flag ${kv_flags})
    if(kind STREQUAL LDFLAGS)
      add_link_options(${flag})
    elseif(kind STREQUAL CPPFLAGS)
      add_compile_options($<$<NOT:$<CONFIG:Debug>>:${flag}>)
    else()
      add_compile_options(${flag})
    endif()
  endforeach()
  list(APPEND kv_hardening ${kv_flags})
endforeach()
list(JOIN kv_hardening " " kv_hardening)
message(STATUS "Hardening: ${kv_hardening}")
