# Warning flags. VESKA_WARNINGS is for the project's own code, VESKA_TEST_WARNINGS
# for the test programs.
# Warnings become errors only with VESKA_WERROR, which the test script and CI turn
# on; a user's build of a release should not fail on a newer compiler's new warning.
# The default can come from the environment (scripts/test.sh exports VESKA_WERROR=ON).
if(DEFINED ENV{VESKA_WERROR})
  set(_veska_werror_default $ENV{VESKA_WERROR})
else()
  set(_veska_werror_default OFF)
endif()
option(VESKA_WERROR "Treat compiler warnings as errors" ${_veska_werror_default})

set(VESKA_WARNINGS -Wall -Wextra -Wpedantic)
set(VESKA_TEST_WARNINGS -Wall -Wextra -Wpedantic)

# GCC 12 reports a bogus -Wrestrict overlap inside std::string's insert when it
# inlines "literal" + std::string&& at -O2 and above (GCC bug 105651, fixed in 13).
# The warning stays on for every other compiler.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU"
   AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
   AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  list(APPEND VESKA_WARNINGS -Wno-restrict)
  list(APPEND VESKA_TEST_WARNINGS -Wno-restrict)
endif()

if(VESKA_WERROR)
  list(APPEND VESKA_WARNINGS -Werror)
  list(APPEND VESKA_TEST_WARNINGS -Werror)
endif()
