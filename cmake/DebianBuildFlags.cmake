# SPDX-License-Identifier: GPL-2.0-or-later
# Debian's hardening for what the packages hold (the driver service runs as
# root on what clients send), as dpkg-buildflags gives it with every
# hardening feature on: a stack protector, checked buffer functions,
# relocations read-only at start, file names in the objects relative to the
# tree. The build type keeps its own optimisation and debug levels; the
# buffer checks need the optimiser, so Debug builds go without them.
find_program(QUORRIN_DPKG_BUILDFLAGS dpkg-buildflags)
if(QUORRIN_DPKG_BUILDFLAGS)
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all ${QUORRIN_DPKG_BUILDFLAGS} --get ${kind}
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE
      RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "dpkg-buildflags --get ${kind} failed")
    endif()
    separate_arguments(flags UNIX_COMMAND "${flags}")
    set(quorrin_${kind} ${flags})
  endforeach()
  list(FILTER quorrin_CXXFLAGS EXCLUDE REGEX "^-(O.*|g.*)$")
else()
  # Without dpkg (not a Debian machine) the same features by hand.
  set(quorrin_CPPFLAGS -D_FORTIFY_SOURCE=2)
  set(quorrin_CXXFLAGS -fstack-protector-strong -Wformat -Werror=format-security)
  set(quorrin_LDFLAGS -Wl,-z,relro -Wl,-z,now)
endif()
set(quorrin_fortify ${quorrin_CPPFLAGS})
list(FILTER quorrin_fortify INCLUDE REGEX "^-D_FORTIFY_SOURCE")
list(FILTER quorrin_CPPFLAGS EXCLUDE REGEX "^-D_FORTIFY_SOURCE")
add_compile_options(${quorrin_CPPFLAGS} ${quorrin_CXXFLAGS})
foreach(flag IN LISTS quorrin_fortify)
  add_compile_options($<$<NOT:$<CONFIG:Debug>>:${flag}>)
endforeach()
add_link_options(${quorrin_LDFLAGS})
