# The Windows layer's suite: the program's resources are linked in (the resource tests and the
# host's dialogs load them from this module), with the window driver and a second program
# that holds a file open for the in-use tests.
target_sources(gp_test_platform_win32 PRIVATE ${PROJECT_SOURCE_DIR}/resources/stub.rc)
target_link_libraries(gp_test_platform_win32 PRIVATE gp_uidriver)

add_executable(gp_file_holder ${CMAKE_CURRENT_LIST_DIR}/holder/file_holder.cpp)
target_link_libraries(gp_file_holder PRIVATE gp_platform shell32)
add_dependencies(gp_test_platform_win32 gp_file_holder)
target_compile_definitions(gp_test_platform_win32 PRIVATE
  GP_FILE_HOLDER="$<TARGET_FILE:gp_file_holder>")

# The first program scripts/wine-prefix.sh runs in a prepared prefix: one window created and
# destroyed, or the reason it cannot be.
add_executable(gp_desktop_check ${CMAKE_CURRENT_LIST_DIR}/desktop_check/desktop_check.cpp)
target_include_directories(gp_desktop_check PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(gp_desktop_check PRIVATE gp_platform)
add_dependencies(gp_test_platform_win32 gp_desktop_check)

# Wine maps the read-only attribute to permission bits, which root ignores: the read-only
# cases of every suite (tests named *ReadOnly*) run again as the unprivileged user gptest
# (scripts/deps.sh makes it), in a Wine prefix of that user's own, with GP_REQUIRE_READONLY=1.
# Registered once every suite exists, at the end of this folder.
if(CMAKE_CROSSCOMPILING)
  set(gp_user_prefix ${CMAKE_BINARY_DIR}/wineprefix-gptest)
  add_test(NAME platform_win32.unprivileged_prefix
           COMMAND bash ${PROJECT_SOURCE_DIR}/cmake/run-unprivileged.sh prepare
                   ${PROJECT_SOURCE_DIR}/scripts/wine-prefix.sh ${gp_user_prefix})
  set_tests_properties(platform_win32.unprivileged_prefix PROPERTIES
    FIXTURES_SETUP gp_unprivileged_prefix LABELS platform_win32 SKIP_RETURN_CODE 77)

  function(gp_add_unprivileged_read_only_tests)
    get_property(targets DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(suite_target IN LISTS targets)
      if(NOT suite_target MATCHES "^gp_test_" OR suite_target STREQUAL "gp_test_support")
        continue()
      endif()
      add_test(NAME ${suite_target}.read_only_unprivileged
               COMMAND bash ${PROJECT_SOURCE_DIR}/cmake/run-unprivileged.sh run
                       ${CMAKE_BINARY_DIR}/wine-run.sh ${gp_user_prefix}
                       $<TARGET_FILE:${suite_target}> "--gtest_filter=*ReadOnly*")
      set_tests_properties(${suite_target}.read_only_unprivileged PROPERTIES
        FIXTURES_REQUIRED gp_unprivileged_prefix LABELS platform_win32 SKIP_RETURN_CODE 77
        TIMEOUT 600)
    endforeach()
  endfunction()
  cmake_language(DEFER DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
                 CALL gp_add_unprivileged_read_only_tests)
endif()
