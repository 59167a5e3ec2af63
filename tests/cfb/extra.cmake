# Cross-checks against independent compound-file implementations from Debian packages
# (python3-olefile, libgsf-bin), through the small cfb_tool program. Linux build only; the
# checks against ole32 run in the Windows build's docfile suites.
if(NOT WIN32)
  add_executable(cfb_tool ${CMAKE_CURRENT_LIST_DIR}/tools/cfb_tool.cpp
                          ${CMAKE_CURRENT_LIST_DIR}/cfb_test_files.cpp)
  target_include_directories(cfb_tool PRIVATE ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(cfb_tool PRIVATE gp_cfb ${GP_GTEST})
  find_program(GP_SYSTEM_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)
  if(NOT GP_SYSTEM_PYTHON)
    find_program(GP_SYSTEM_PYTHON python3)
  endif()
  foreach(mode olefile gsf)
    add_test(NAME cfb_crosscheck.${mode}
             COMMAND ${GP_SYSTEM_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/crosscheck.py ${mode}
                     $<TARGET_FILE:cfb_tool> ${CMAKE_CURRENT_BINARY_DIR}/cfb_crosscheck_${mode})
    set_tests_properties(cfb_crosscheck.${mode} PROPERTIES LABELS cfb)
  endforeach()
endif()
