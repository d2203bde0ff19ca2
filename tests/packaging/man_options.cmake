# The options a manual page lists are exactly those the program's --help shows.
#   cmake -DPROGRAM=path -DPAGE=page.1.in -P man_options.cmake
execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help ended with ${status}")
endif()
string(REGEX MATCHALL "--[a-z][a-z-]*" shown "${help}")

file(READ ${PAGE} page)
string(REPLACE "\\-" "-" page "${page}")
# The OPTIONS section only: up to the next section heading.
string(FIND "${page}" "\n.SH OPTIONS\n" start)
if(start EQUAL -1)
  message(FATAL_ERROR "${PAGE} has no OPTIONS section")
endif()
string(SUBSTRING "${page}" ${start} -1 section)
string(SUBSTRING "${section}" 1 -1 section)
string(FIND "${section}" "\n.SH " end)
string(SUBSTRING "${section}" 0 ${end} section)
string(REGEX MATCHALL "--[a-z][a-z-]*" listed "${section}")

foreach(list shown listed)
  list(REMOVE_DUPLICATES ${list})
  list(SORT ${list})
endforeach()
if(NOT shown STREQUAL listed)
  message(FATAL_ERROR "${PAGE} lists [${listed}] but ${PROGRAM} --help shows [${shown}]")
endif()
