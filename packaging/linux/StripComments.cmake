# SPDX-License-Identifier: GPL-2.0-or-later
# Run by cpack after the packages' files are staged, before their symbols are
# split off: the compiler's identification in .comment is of no use in a
# packaged program (lintian: binary-has-unneeded-section).
find_program(QUORRIN_OBJCOPY objcopy REQUIRED)
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(file IN LISTS staged)
  if(IS_SYMLINK "${file}")
    continue()
  endif()
  file(READ "${file}" magic LIMIT 4 HEX)
  if(magic STREQUAL "7f454c46")
    execute_process(COMMAND ${QUORRIN_OBJCOPY} --remove-section=.comment "${file}" RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "objcopy --remove-section=.comment ${file} failed")
    endif()
  endif()
endforeach()
