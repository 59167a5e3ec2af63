# The stub runs as a subprocess: the tests need its path and a fresh build of it.
add_dependencies(gp_test_stub_posix genpatch-stub)
target_compile_definitions(gp_test_stub_posix PRIVATE
  GP_STUB_PATH="$<TARGET_FILE:genpatch-stub>")
add_dependencies(gp_test_stub_posix genpatch)
target_compile_definitions(gp_test_stub_posix PRIVATE GP_GENPATCH_PATH="$<TARGET_FILE:genpatch>")
