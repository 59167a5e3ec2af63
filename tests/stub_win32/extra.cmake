# The package program driven through its windows under the same Wine: the suite starts
# genpatch-stub.exe, reads its message boxes and presses their buttons.
target_link_libraries(gp_test_stub_win32 PRIVATE gp_uidriver)
add_dependencies(gp_test_stub_win32 genpatch-stub)
target_compile_definitions(gp_test_stub_win32 PRIVATE
  GP_STUB_EXE="$<TARGET_FILE:genpatch-stub>")
# uidriver.exe, which the suite runs with the package program behind it.
add_dependencies(gp_test_stub_win32 uidriver)
target_compile_definitions(gp_test_stub_win32 PRIVATE GP_UIDRIVER_EXE="$<TARGET_FILE:uidriver>")
