# SPDX-License-Identifier: GPL-2.0-or-later
# Read by cpack before it packages: every file in the packages gets the date
# of the release's change log entry, whenever and wherever it is built.
if(CPACK_QUORRIN_SOURCE_DATE_EPOCH AND NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ENV{SOURCE_DATE_EPOCH} "${CPACK_QUORRIN_SOURCE_DATE_EPOCH}")
endif()
