# The Windows release zip: hostprobe.exe, its console twin hostprobe.com,
# vmware.dll and the README side by side (hostprobe.exe loads vmware.dll from
# its own directory, hostprobe.com starts hostprobe.exe from its own). One zip
# per architecture: hostprobe-<version>-win64.zip or -win32.zip.
install(TARGETS hostprobe hostprobe_twin RUNTIME DESTINATION . COMPONENT release)
install(TARGETS hostprobe_probes RUNTIME DESTINATION . COMPONENT release)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . COMPONENT release)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME hostprobe)
set(CPACK_PACKAGE_VENDOR "hostprobe")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_SYSTEM_NAME win32)
endif()
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL release)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_STRIP_FILES ON)
include(CPack)
