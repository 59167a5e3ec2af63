# The package program driven through its windows under the same Wine: the suite starts
# genpatch-stub.exe, reads its message boxes and presses their buttons.
target_link_libraries(gp_test_stub_win32 PRIVATE gp_uidriver)
add_dependencies(gp_test_stub_win32 genpatch-stub)
target_compile_definitions(gp_test_stub_win32 PRIVATE
  GP_STUB_EXE="$<TARGET_FILE:genpatch-stub>")
# uidriver.exe, which the suite runs with the package program behind it.
add_dependencies(gp_test_stub_win32 uidriver)
target_compile_definitions(gp_test_stub_win32 PRIVATE GP_UIDRIVER_EXE="$<TARGET_FILE:uidriver>")

# genpatch.exe end to end under Wine (a script on the host): build from release folders with
# Japanese names, info --json, check, apply, extract, the package run through uidriver.exe, and
# the same bytes as the Linux genpatch's package (the linux-debug build's, when there is one).
set(GP_LINUX_GENPATCH ${PROJECT_SOURCE_DIR}/build/linux-debug/src/cli/genpatch CACHE FILEPATH
    "The Linux genpatch whose packages genpatch.exe's must equal")
add_dependencies(gp_test_stub_win32 genpatch)
add_test(NAME stub_win32.genpatch_exe
         COMMAND bash ${PROJECT_SOURCE_DIR}/tests/scripts/genpatch_exe_test.sh
                 ${CMAKE_BINARY_DIR}/wine-run.sh $<TARGET_FILE:genpatch> $<TARGET_FILE:uidriver>
                 ${CMAKE_CURRENT_BINARY_DIR}/genpatch_exe ${GP_LINUX_GENPATCH})
set_tests_properties(stub_win32.genpatch_exe PROPERTIES
  LABELS stub_win32 SKIP_RETURN_CODE 77 TIMEOUT 600)

# The package program travels inside every package: the stripped Release image stays within
# 250 KB (256,000 bytes).
if(CMAKE_BUILD_TYPE MATCHES "^(Release|MinSizeRel)$")
  add_test(NAME stub_win32.program_size
           COMMAND bash -c "size=$(stat -c %s \"$1\"); echo \"genpatch-stub.exe: $size bytes (at most 256000)\"; [ \"$size\" -le 256000 ]"
                   _ $<TARGET_FILE:genpatch-stub>)
  set_tests_properties(stub_win32.program_size PROPERTIES LABELS stub_win32)
endif()

# Signed packages (tests/stub_win32/signed_package.sh): built and applied with the Linux genpatch
# (of the linux-debug preset, which scripts/test.sh builds first), signed with osslsigncode and
# run under this build's Wine through uidriver.exe.
add_test(NAME signed_package
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/signed_package.sh ${CMAKE_BINARY_DIR}/wine-run.sh
                 $<TARGET_FILE:genpatch-stub> $<TARGET_FILE:uidriver> ${GP_LINUX_GENPATCH}
                 ${CMAKE_CURRENT_BINARY_DIR}/signed_package)
set_tests_properties(signed_package PROPERTIES LABELS stub_win32 SKIP_RETURN_CODE 77 TIMEOUT 600)
