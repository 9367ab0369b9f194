# rilvano_window_test(<name> <sources...>): a gtest executable that drives the
# real window offscreen, with the shared harness (tests/window/harness.h),
# one QApplication (qt_main.cpp) and the leak suppressions for Qt's own
# start-up allocations.
set(RILVANO_LSAN_SUPP ${CMAKE_CURRENT_LIST_DIR}/../lsan.supp)

if(TARGET rilvano_window AND NOT TARGET rilvano_qt_main)
  add_library(rilvano_qt_main STATIC ${CMAKE_CURRENT_LIST_DIR}/qt_main.cpp)
  target_link_libraries(rilvano_qt_main PUBLIC rilvano_window GTest::gtest)
endif()

function(rilvano_window_test name)
  if(NOT TARGET rilvano_window)
    return()
  endif()
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE rilvano_qt_main rilvano_window GTest::gtest)
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LSAN_OPTIONS=suppressions=${RILVANO_LSAN_SUPP}:print_suppressions=0"
      TIMEOUT 300)
endfunction()
