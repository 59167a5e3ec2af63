# Installation and packages. `cmake --install` puts genpatch in bin/, the package programs in
# share/genpatch/ (where an installed genpatch build finds them by default) and the documents in
# share/doc/genpatch/. CPack makes a Debian package of the Linux build and a zip of the Windows
# build: `cpack --config build/linux-release/CPackConfig.cmake`.
include(GNUInstallDirs)

install(TARGETS genpatch RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS genpatch-stub RUNTIME DESTINATION ${CMAKE_INSTALL_DATADIR}/genpatch)
# The Linux build can carry the Windows package program too: name the genpatch-stub.exe that
# the windows preset built.
set(GP_INSTALL_WINDOWS_STUB "" CACHE FILEPATH
    "a genpatch-stub.exe to install beside the Linux package program (optional)")
if(GP_INSTALL_WINDOWS_STUB)
  install(PROGRAMS ${GP_INSTALL_WINDOWS_STUB} DESTINATION ${CMAKE_INSTALL_DATADIR}/genpatch)
endif()
install(FILES README.md doc/format.md doc/project-file.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY examples/sample-app DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

set(CPACK_PACKAGE_NAME genpatch)
set(CPACK_PACKAGE_VENDOR genpatch)
set(CPACK_PACKAGE_CONTACT "genpatch developers <dev@genpatch.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "makes and applies self-applying differential update packages of Windows software")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-x86_64)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6")
endif()
include(CPack)
