# GUI tests: real Qt painting under the offscreen platform.
file(GLOB_RECURSE BRIMVALE_GUI_TESTS CONFIGURE_DEPENDS
  shell/*_test.cc shared_views/*_test.cc views/*_test.cc widget/*_test.cc)
if(BRIMVALE_GUI_TESTS)
  add_executable(gui_tests ${BRIMVALE_GUI_TESTS} gui_support/main.cc support/test_env.cc)
  target_include_directories(gui_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(gui_tests PRIVATE brimvale_app GTest::gmock GTest::gtest)
  if(TARGET brimvale_widget)
    target_link_libraries(gui_tests PRIVATE brimvale_widget)
  endif()
  target_compile_definitions(gui_tests PRIVATE
    BRIMVALE_FIXTURES="${CMAKE_CURRENT_SOURCE_DIR}/fixtures")
  gtest_discover_tests(gui_tests DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 120 ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endif()
