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
# page, the desktop entry, the AppStream metadata and the icon.
#
# Two packages: "hostprobe" holds the command line and needs no GUI library;
# "hostprobe-window" adds the Qt window and its desktop entry and pulls in Qt.
# Without it, hostprobe with no options starts the interactive console.
# Each package carries the licence (the machine-readable copyright file) and
# the changelog in share/doc/<package>/.
set(HOSTPROBE_DEB_RELEASE 1)
set(HOSTPROBE_PACKAGE_VERSION ${PROJECT_VERSION}-${HOSTPROBE_DEB_RELEASE})
find_program(HOSTPROBE_GZIP gzip REQUIRED)
# gzip -9n: no name or time stamp in the header, the same bytes on every build.
function(hostprobe_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${HOSTPROBE_GZIP} -9nc ${source} > ${output}
    DEPENDS ${source} VERBATIM)
endfunction()
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog ${HOSTPROBE_GENERATED}/changelog.Debian
               @ONLY)
hostprobe_gzip(${HOSTPROBE_GENERATED}/hostprobe.1 ${HOSTPROBE_GENERATED}/hostprobe.1.gz)
hostprobe_gzip(${HOSTPROBE_GENERATED}/changelog.Debian ${HOSTPROBE_GENERATED}/changelog.Debian.gz)
add_custom_target(hostprobe_package_files ALL
  DEPENDS ${HOSTPROBE_GENERATED}/hostprobe.1.gz ${HOSTPROBE_GENERATED}/changelog.Debian.gz)

install(FILES ${HOSTPROBE_GENERATED}/hostprobe.1.gz DESTINATION share/man/man1)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${HOSTPROBE_GENERATED}/changelog.Debian.gz
        DESTINATION share/doc/hostprobe)
# Debian only, like the window's: the package step leaves them out of the RPMs.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/hostprobe.lintian-overrides
        DESTINATION share/lintian/overrides RENAME hostprobe)
# Fleet collection with Ansible: the facts script and the playbook.
install(PROGRAMS ${PROJECT_SOURCE_DIR}/contrib/ansible/hostprobe.fact DESTINATION share/hostprobe/ansible)
install(FILES ${PROJECT_SOURCE_DIR}/contrib/ansible/collect.yml DESTINATION share/hostprobe/ansible)
install(FILES ${PROJECT_SOURCE_DIR}/docs/hostprobe-report.schema.json DESTINATION share/hostprobe)
if(TARGET hostprobe-window)
  install(TARGETS hostprobe-window RUNTIME DESTINATION libexec/hostprobe COMPONENT window)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/hostprobe.desktop DESTINATION share/applications
          COMPONENT window)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/org.example.hostprobe.metainfo.xml
          DESTINATION share/metainfo COMPONENT window)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/hostprobe.svg
          DESTINATION share/icons/hicolor/scalable/apps COMPONENT window)
  foreach(size 16 24 32 48 64 128 256)
    install(FILES ${PROJECT_SOURCE_DIR}/docs/icons/hostprobe-${size}.png
            DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME hostprobe.png COMPONENT window)
  endforeach()
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${HOSTPROBE_GENERATED}/changelog.Debian.gz
          DESTINATION share/doc/hostprobe-window COMPONENT window)
  # Debian only: the package step leaves it out of the RPM.
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/hostprobe-window.lintian-overrides
          DESTINATION share/lintian/overrides RENAME hostprobe-window COMPONENT window)
endif()

# Debian packages (cpack -G DEB) and RPMs (cpack -G RPM), one per component.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hostprobe)
set(CPACK_PACKAGE_VENDOR "The hostprobe developers")
set(CPACK_PACKAGE_CONTACT "The hostprobe developers <hostprobe@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "machine diagnostics: network adapters, drives and virtual machine probes")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Drops what stripping leaves (the compilers' .comment), and the lintian
# overrides from the RPM.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/package-files.cmake)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${HOSTPROBE_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
set(CPACK_RPM_PACKAGE_RELEASE ${HOSTPROBE_DEB_RELEASE})
set(CPACK_RPM_PACKAGE_LICENSE MIT)
set(CPACK_RPM_PACKAGE_GROUP "Applications/System")
set(CPACK_RPM_COMPONENT_INSTALL ON)
# The directories the system owns are not the packages' own.
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
    /usr/libexec /usr/share/applications /usr/share/icons /usr/share/icons/hicolor /usr/share/metainfo
    /usr/share/man /usr/share/man/man1 /usr/share/doc)
# Everything installed without a component (hostprobe, the man page) is the
# base package.
set(CPACK_COMPONENTS_ALL Unspecified)
set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_NAME hostprobe)
set(CPACK_RPM_UNSPECIFIED_PACKAGE_NAME hostprobe)
set(hostprobe_description
    "Runs eight fixed tests (network adapters, interface table, drives, four virtual\nmachine probes, a classification) and appends each result as a timestamped\nrecord to TEST_OUT.TXT. Install hostprobe-window for the window.")
set(CPACK_DEBIAN_UNSPECIFIED_DESCRIPTION "${hostprobe_description}")
set(CPACK_RPM_UNSPECIFIED_PACKAGE_DESCRIPTION "${hostprobe_description}")
if(TARGET hostprobe-window)
  list(APPEND CPACK_COMPONENTS_ALL window)
  set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_SUGGESTS hostprobe-window)
  set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME hostprobe-window)
  set(CPACK_RPM_WINDOW_PACKAGE_NAME hostprobe-window)
  set(CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS "hostprobe (= ${HOSTPROBE_PACKAGE_VERSION})")
  set(CPACK_RPM_WINDOW_PACKAGE_REQUIRES "hostprobe = ${HOSTPROBE_PACKAGE_VERSION}")
  set(window_description
      "The Qt window with the two start buttons, TEST and Konec, that hostprobe\nstarts when a display is available.")
  set(CPACK_DEBIAN_WINDOW_DESCRIPTION "${window_description}")
  set(CPACK_RPM_WINDOW_PACKAGE_DESCRIPTION "${window_description}")
endif()
include(CPack)
