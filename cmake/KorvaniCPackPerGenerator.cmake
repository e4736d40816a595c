# Read by CPack once for each generator (CPACK_PROJECT_CONFIG_FILE).
if(CPACK_GENERATOR STREQUAL "TGZ")
  # Only the flat folder: korvani-download-<version>-<system>/{korvani-download,README.md,LICENSE}.
  set(CPACK_COMPONENTS_ALL portable)
  set(CPACK_PACKAGING_INSTALL_PREFIX "")
endif()

# The archives' file and header times, the same as the changelog's date: cpack may run
# long after the configure, and with or without $SOURCE_DATE_EPOCH.
if(CPACK_KORVANI_SOURCE_DATE_EPOCH)
  set(ENV{SOURCE_DATE_EPOCH} "${CPACK_KORVANI_SOURCE_DATE_EPOCH}")
endif()
