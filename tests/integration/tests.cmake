# Real clients against veskad; needs the daemon and the reference mail library.
if(TARGET veskad AND TARGET veska_api)
  add_test(NAME real_clients
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/real_clients.py
            $<TARGET_FILE:veskad> $<TARGET_FILE:veska_api> ${CMAKE_SOURCE_DIR})
  set_tests_properties(real_clients PROPERTIES TIMEOUT 300)
endif()
