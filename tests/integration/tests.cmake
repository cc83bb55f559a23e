# Real clients against veskad; needs the daemon and the reference mail library.
# The Python that runs them must import ldap3: the system's /usr/bin/python3 (where
# the set-up script installs python3-ldap3) comes first, then the one CMake finds,
# so that a per-user interpreter first on PATH does not break the test.
if(TARGET veskad AND TARGET veska_api)
  set(_candidates /usr/bin/python3)
  find_package(Python3 QUIET COMPONENTS Interpreter)
  if(Python3_Interpreter_FOUND)
    list(APPEND _candidates ${Python3_EXECUTABLE})
  endif()
  set(VESKA_CLIENT_PYTHON "" CACHE FILEPATH "Python 3 with ldap3 for the real-client test (empty: look for one)")
  if(NOT VESKA_CLIENT_PYTHON)
    foreach(_py IN LISTS _candidates)
      if(EXISTS ${_py})
        execute_process(COMMAND ${_py} -c "import ldap3" RESULT_VARIABLE _rc OUTPUT_QUIET ERROR_QUIET)
        if(_rc EQUAL 0)
          set(_python ${_py})
          break()
        endif()
      endif()
    endforeach()
  else()
    set(_python ${VESKA_CLIENT_PYTHON})
  endif()
  if(_python)
    message(STATUS "Real-client test runs with ${_python} (ldap3 importable)")
    add_test(NAME real_clients
      COMMAND ${_python} ${CMAKE_CURRENT_LIST_DIR}/real_clients.py
              $<TARGET_FILE:veskad> $<TARGET_FILE:veska_api> ${CMAKE_SOURCE_DIR})
    set_tests_properties(real_clients PROPERTIES TIMEOUT 300)
    # Mail programs' lookups replayed, and lbdb, Roundcube and python-ldap themselves,
    # in the default mode and with StandardSearch=Yes.
    add_test(NAME mail_programs
      COMMAND ${_python} ${CMAKE_CURRENT_LIST_DIR}/mail_programs.py
              $<TARGET_FILE:veskad> $<TARGET_FILE:veska_api> ${CMAKE_SOURCE_DIR})
    set_tests_properties(mail_programs PROPERTIES TIMEOUT 300)
    # LDAPS, StartTLS, allowed networks and IPv6, one row per case.
    add_test(NAME tls_table COMMAND ${_python} ${CMAKE_CURRENT_LIST_DIR}/tls_table.py
             $<TARGET_FILE:veskad> $<TARGET_FILE:veska_api> ${CMAKE_SOURCE_DIR})
    set_tests_properties(tls_table PROPERTIES TIMEOUT 300)
  else()
    # Registered all the same, so that a missing client library fails loudly
    # instead of silently dropping the test.
    message(WARNING "No Python with ldap3 found (tried: ${_candidates}); real_clients will fail. "
                    "Install python3-ldap3 or set VESKA_CLIENT_PYTHON.")
    add_test(NAME real_clients COMMAND /usr/bin/python3 -c "import ldap3")
    add_test(NAME mail_programs COMMAND /usr/bin/python3 -c "import ldap3")
    add_test(NAME tls_table COMMAND /usr/bin/python3 -c "import ldap3")
  endif()
endif()
