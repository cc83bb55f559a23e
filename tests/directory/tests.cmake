# Test doubles of the mail-server library, each a plugin named API.so in a folder
# of its own: the full fake, and one that lacks GetUserSetting.
set(_fakeapi_src ${CMAKE_CURRENT_LIST_DIR}/fakeapi/fake_api.c)
foreach(_variant fakeapi fakeapi_missing)
  add_library(${_variant} MODULE ${_fakeapi_src})
  set_target_properties(${_variant} PROPERTIES
    PREFIX "" OUTPUT_NAME API SUFFIX .so
    C_STANDARD 17 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF
    C_VISIBILITY_PRESET hidden
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/${_variant})
  target_compile_options(${_variant} PRIVATE ${VESKA_WARNINGS})
endforeach()
target_compile_definitions(fakeapi_missing PRIVATE FAKE_API_OMIT_GETUSERSETTING)

if(TARGET test_mailapi)
  find_package(SQLite3 REQUIRED)
  add_dependencies(test_mailapi fakeapi fakeapi_missing)
  target_compile_definitions(test_mailapi PRIVATE
    FAKE_API_DIR="${CMAKE_BINARY_DIR}/tests/fakeapi/"
    FAKE_API_MISSING_DIR="${CMAKE_BINARY_DIR}/tests/fakeapi_missing/")
  target_link_libraries(test_mailapi PRIVATE SQLite::SQLite3 ${CMAKE_DL_LIBS})
  if(TARGET veska_api)
    add_dependencies(test_mailapi veska_api)
    target_compile_definitions(test_mailapi PRIVATE
      SQLITE_API_DIR="${CMAKE_BINARY_DIR}/api/")
  endif()
endif()
