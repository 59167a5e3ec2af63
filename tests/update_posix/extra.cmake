# The update engine's shared test set-up.
target_sources(gp_test_update_posix PRIVATE ${PROJECT_SOURCE_DIR}/tests/update/update_fixture.cpp)
target_include_directories(gp_test_update_posix PRIVATE ${PROJECT_SOURCE_DIR}/tests/update)
