# The documents against the program: the manual pages render without warnings
# and name the options --help lists; the README's blocks marked to run do run.
set(_man ${CMAKE_BINARY_DIR}/packaging)
find_program(VESKA_GROFF groff)
if(VESKA_GROFF)
  set(_pages ${_man}/veskad.8)
  if(TARGET veska)
    list(APPEND _pages ${_man}/veska.1)
  endif()
  add_test(NAME docs.man_pages_render COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/man_render.sh ${VESKA_GROFF} ${_pages})
else()
  # Registered all the same, so that a missing groff fails loudly.
  message(WARNING "groff not found (package groff-base): docs.man_pages_render will fail")
  add_test(NAME docs.man_pages_render COMMAND sh -c "echo 'groff is not installed (groff-base)'; exit 1")
endif()
if(TARGET veskad)
  add_test(NAME docs.veskad_options_in_man_page
    COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/man_options.sh $<TARGET_FILE:veskad> ${_man}/veskad.8)
endif()
# It installs the whole build, so it needs the whole build: the ThreadSanitizer
# stage builds only the programs it runs.
if(TARGET veskad AND TARGET veska_api AND NOT VESKA_TSAN)
  add_test(NAME docs.readme_blocks_run
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/readme_blocks.py ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_BINARY_DIR})
  set_tests_properties(docs.readme_blocks_run PROPERTIES TIMEOUT 120)
endif()
