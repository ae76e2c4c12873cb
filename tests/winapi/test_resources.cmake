# The user32 tests read a small .rc compiled by windres, as the program's own resources are; without windres
# those tests are skipped.
find_program(KQ_TEST_WINDRES NAMES x86_64-w64-mingw32-windres i686-w64-mingw32-windres windres)
if(KQ_TEST_WINDRES)
  set(_kq_test_res ${CMAKE_CURRENT_BINARY_DIR}/user32_test.res)
  add_custom_command(OUTPUT ${_kq_test_res}
    COMMAND ${KQ_TEST_WINDRES} -O res -i ${CMAKE_CURRENT_SOURCE_DIR}/winapi/user32_test.rc -o ${_kq_test_res}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/winapi/user32_test.rc
    COMMENT "windres user32_test.rc")
  add_custom_target(winapi_test_resources DEPENDS ${_kq_test_res})
  add_dependencies(winapi_tests winapi_test_resources)
  target_compile_definitions(winapi_tests PRIVATE KQ_TEST_RES="${_kq_test_res}")
else()
  message(STATUS "windres not found: the stand-in's resource and dialog tests will be skipped")
endif()
