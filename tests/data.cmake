# Reference data of the tests, read from the source tree.
if(TARGET test_engine)
    target_compile_definitions(test_engine PRIVATE TAV_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/data")
endif()
if(TARGET test_apps)
    target_compile_definitions(test_apps PRIVATE TAV_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/data")
endif()
