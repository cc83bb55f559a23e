# The service tests build the directory through the fake mail library
# (tests/directory/tests.cmake defines it).
foreach(_t test_lifecycle test_loadusers test_search_wire test_service_views test_veskad test_error_events test_faults)
  if(TARGET ${_t} AND TARGET fakeapi)
    add_dependencies(${_t} fakeapi fakeapi_missing)
    target_compile_definitions(${_t} PRIVATE
      FAKE_API_DIR="${CMAKE_BINARY_DIR}/tests/fakeapi/"
      FAKE_API_MISSING_DIR="${CMAKE_BINARY_DIR}/tests/fakeapi_missing/")
  endif()
endforeach()

# The daemon as a process: exit codes, streams and signals.
if(TARGET test_veskad AND TARGET veskad)
  add_dependencies(test_veskad veskad)
  target_compile_definitions(test_veskad PRIVATE VESKAD_PATH="$<TARGET_FILE:veskad>"
    VESKA_VERSION="${PROJECT_VERSION}")
endif()

# Fault tests: six mail-server libraries, each lacking one of the six names.
if(TARGET test_faults)
  foreach(_n 1 2 3 4 5 6)
    add_library(partialapi_${_n} MODULE ${CMAKE_CURRENT_LIST_DIR}/partialapi/partial_api.c)
    set_target_properties(partialapi_${_n} PROPERTIES
      PREFIX "" OUTPUT_NAME API SUFFIX .so C_STANDARD 17 C_VISIBILITY_PRESET hidden
      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/partialapi_${_n})
    target_compile_definitions(partialapi_${_n} PRIVATE PARTIAL_API_OMIT_${_n})
    target_compile_options(partialapi_${_n} PRIVATE -Wall -Wextra -Wpedantic -Werror)
    add_dependencies(test_faults partialapi_${_n})
  endforeach()
  target_compile_definitions(test_faults PRIVATE PARTIAL_API_ROOT="${CMAKE_BINARY_DIR}/tests/")
endif()
