# The version is the one in the version resource (res/pelorn.rc): its FILEVERSION, which the
# resource's version strings must repeat. Included before project(), which takes it.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../res/pelorn.rc pelorn_rc_version REGEX "^ *FILEVERSION |\"FileVersion\"")
if(NOT pelorn_rc_version MATCHES "FILEVERSION ([0-9]+), *([0-9]+), *([0-9]+), *([0-9]+)")
  message(FATAL_ERROR "res/pelorn.rc has no FILEVERSION a, b, c, d")
endif()
set(PELORN_VERSION ${CMAKE_MATCH_1}.${CMAKE_MATCH_2}.${CMAKE_MATCH_3}.${CMAKE_MATCH_4})
if(NOT pelorn_rc_version MATCHES "\"FileVersion\", \"${CMAKE_MATCH_1}, ${CMAKE_MATCH_2}, ${CMAKE_MATCH_3}, ${CMAKE_MATCH_4}\"")
  message(FATAL_ERROR "res/pelorn.rc: the FileVersion string differs from FILEVERSION ${PELORN_VERSION}")
endif()
