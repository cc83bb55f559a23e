# The service tests build the directory through the fake mail library
# (tests/directory/tests.cmake defines it).
foreach(_t test_lifecycle test_loadusers test_search_wire test_service_views test_veskad test_error_events)
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
