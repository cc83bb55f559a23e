# Widget tests: every tests/ui/tst_*.cpp is one Qt Test program, run offscreen.
# Toolkit-free helpers of ui/ keep GoogleTest programs (tests/ui/test_*.cpp),
# which need the ui library too.
if(TARGET veska_ui)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  file(GLOB gtest_ui CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/test_*.cpp)
  foreach(src IN LISTS gtest_ui)
    get_filename_component(name ${src} NAME_WE)
    target_link_libraries(${name} PRIVATE veska_ui)
  endforeach()
  # The process test runs the desktop program itself.
  if(TARGET veska AND TARGET test_veska_dir)
    add_dependencies(test_veska_dir veska)
  endif()
  file(GLOB qtest_srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/tst_*.cpp)
  foreach(src IN LISTS qtest_srcs)
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src})
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
    target_compile_options(${name} PRIVATE ${VESKA_TEST_WARNINGS})
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_LIST_DIR}/..)
    target_link_libraries(${name} PRIVATE veska_ui Qt6::Test)
    target_compile_definitions(${name} PRIVATE
      VESKA_BUILD_DIR="${CMAKE_BINARY_DIR}" VESKA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
    add_test(NAME ui.${name} COMMAND ${name})
    set_tests_properties(ui.${name} PROPERTIES TIMEOUT 120
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  endforeach()
endif()
