# Read by CPack once for each generator (CPACK_PROJECT_CONFIG_FILE).
if(CPACK_GENERATOR STREQUAL "TGZ")
  # Only the flat folder: korvani-download-<version>-<system>/{korvani-download,README.md,LICENSE}.
  set(CPACK_COMPONENTS_ALL portable)
  set(CPACK_PACKAGING_INSTALL_PREFIX "")
endif()
