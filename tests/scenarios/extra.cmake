# The real package program run as a subprocess: the Linux program directly, the Windows one
# through uidriver.exe.
if(WIN32)
  target_link_libraries(gp_test_scenarios PRIVATE gp_uidriver)
  add_dependencies(gp_test_scenarios genpatch-stub uidriver)
  target_compile_definitions(gp_test_scenarios PRIVATE
    GP_STUB_EXE="$<TARGET_FILE:genpatch-stub>" GP_UIDRIVER_EXE="$<TARGET_FILE:uidriver>")
else()
  target_sources(gp_test_scenarios PRIVATE ${PROJECT_SOURCE_DIR}/tests/stub_posix/run_process.cpp)
  target_include_directories(gp_test_scenarios PRIVATE ${PROJECT_SOURCE_DIR}/tests/stub_posix)
  add_dependencies(gp_test_scenarios genpatch-stub genpatch)
  target_compile_definitions(gp_test_scenarios PRIVATE GP_STUB_PATH="$<TARGET_FILE:genpatch-stub>"
                             GP_GENPATCH_PATH="$<TARGET_FILE:genpatch>")
endif()
