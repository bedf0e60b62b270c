# Writes OUT, a header naming the build: the commit the sources are at (with
# "-dirty" for uncommitted changes), the build type and the compiler. Run on
# every build; the file is only rewritten when that changes, so nothing is
# recompiled needlessly.
execute_process(COMMAND git -C ${SOURCE_DIR} describe --always --dirty --abbrev=10
  OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
if(failed OR commit STREQUAL "")
  set(commit "unknown commit")
endif()
set(text "#define VELVANE_BUILD \"${commit}, ${BUILD_TYPE}, ${COMPILER}\"\n")
if(EXISTS ${OUT})
  file(READ ${OUT} old)
endif()
if(NOT old STREQUAL text)
  file(WRITE ${OUT} "${text}")
endif()
