# The package program driven through its windows under the same Wine: the suite starts
# genpatch-stub.exe, reads its message boxes and presses their buttons.
target_link_libraries(gp_test_stub_win32 PRIVATE gp_uidriver)
add_dependencies(gp_test_stub_win32 genpatch-stub)
target_compile_definitions(gp_test_stub_win32 PRIVATE
  GP_STUB_EXE="$<TARGET_FILE:genpatch-stub>")
# uidriver.exe, which the suite runs with the package program behind it.
add_dependencies(gp_test_stub_win32 uidriver)
target_compile_definitions(gp_test_stub_win32 PRIVATE GP_UIDRIVER_EXE="$<TARGET_FILE:uidriver>")
# Signed packages (tests/stub_win32/signed_package.sh): built and applied with the Linux genpatch
# (of the linux-debug preset, which scripts/test.sh builds first), signed with osslsigncode and
# run under this build's Wine through uidriver.exe.
set(GP_HOST_GENPATCH ${PROJECT_SOURCE_DIR}/build/linux-debug/src/cli/genpatch
    CACHE FILEPATH "The Linux genpatch that the signed-package test builds and applies with")
add_test(NAME signed_package
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/signed_package.sh ${CMAKE_BINARY_DIR}/wine-run.sh
                 $<TARGET_FILE:genpatch-stub> $<TARGET_FILE:uidriver> ${GP_HOST_GENPATCH}
                 ${CMAKE_CURRENT_BINARY_DIR}/signed_package)
set_tests_properties(signed_package PROPERTIES LABELS stub_win32 SKIP_RETURN_CODE 77 TIMEOUT 600)
