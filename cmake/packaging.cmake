# The manual, the Linux installation layout and the Debian packages.

# docs/hostprobe.1.txt is the one source of `hostprobe --help` (a generated
# header that src/app/cli.cc includes) and of the man page hostprobe.1.
set(HOSTPROBE_GENERATED ${PROJECT_BINARY_DIR}/generated)
add_custom_command(
  OUTPUT ${HOSTPROBE_GENERATED}/usage_text.h ${HOSTPROBE_GENERATED}/hostprobe.1
  COMMAND ${CMAKE_COMMAND} -DSOURCE=${PROJECT_SOURCE_DIR}/docs/hostprobe.1.txt
          -DHEADER=${HOSTPROBE_GENERATED}/usage_text.h -DMAN=${HOSTPROBE_GENERATED}/hostprobe.1
          -DVERSION=${PROJECT_VERSION} -P ${PROJECT_SOURCE_DIR}/cmake/manual.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/docs/hostprobe.1.txt ${PROJECT_SOURCE_DIR}/cmake/manual.cmake
  COMMENT "Generating the --help text and hostprobe.1 from docs/hostprobe.1.txt")
target_sources(hostprobe_cli PRIVATE ${HOSTPROBE_GENERATED}/usage_text.h)
target_include_directories(hostprobe_cli PRIVATE ${HOSTPROBE_GENERATED})
add_custom_target(hostprobe_manual ALL DEPENDS ${HOSTPROBE_GENERATED}/hostprobe.1)

if(WIN32)
  return()
endif()

# Layout under the prefix: bin/hostprobe (installed beside its target), the
# window program in libexec/hostprobe/ where hostprobe looks for it, the man
# page, the desktop entry and the icon.
#
# Two packages: "hostprobe" holds the command line and needs no GUI library;
# "hostprobe-window" adds the Qt window and its desktop entry and pulls in Qt.
# Without it, hostprobe with no options starts the interactive console.
install(FILES ${HOSTPROBE_GENERATED}/hostprobe.1 DESTINATION share/man/man1)
if(TARGET hostprobe-window)
  install(TARGETS hostprobe-window RUNTIME DESTINATION libexec/hostprobe COMPONENT window)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/hostprobe.desktop DESTINATION share/applications
          COMPONENT window)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/hostprobe.svg
          DESTINATION share/icons/hicolor/scalable/apps COMPONENT window)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hostprobe)
set(CPACK_PACKAGE_VENDOR "hostprobe")
set(CPACK_PACKAGE_CONTACT "hostprobe maintainers <hostprobe@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "machine diagnostics: network adapters, drives and virtual machine probes")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
# Everything installed without a component (hostprobe, the man page) is the
# base package.
set(CPACK_COMPONENTS_ALL Unspecified)
set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_NAME hostprobe)
set(CPACK_DEBIAN_UNSPECIFIED_DESCRIPTION
    "Runs eight fixed tests (network adapters, interface table, drives, four virtual\nmachine probes, a classification) and appends each result as a timestamped\nrecord to TEST_OUT.TXT. Install hostprobe-window for the window.")
if(TARGET hostprobe-window)
  list(APPEND CPACK_COMPONENTS_ALL window)
  set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME hostprobe-window)
  set(CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS "hostprobe (= ${PROJECT_VERSION})")
  set(CPACK_DEBIAN_WINDOW_DESCRIPTION
      "The Qt window with the two start buttons, TEST and Konec, that hostprobe\nstarts when a display is available.")
endif()
include(CPack)
