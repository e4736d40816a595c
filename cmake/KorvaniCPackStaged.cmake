# Read by CPack for each generator once the files to package are staged
# (CPACK_PRE_BUILD_SCRIPTS).
if(CPACK_GENERATOR STREQUAL "DEB")
  # dpkg-shlibdeps runs in the staging folder and takes debian/shlibs.local there before
  # the libraries' own symbols files; CPack removes debian/ again before it packs.
  file(WRITE "${CPACK_TEMPORARY_DIRECTORY}/debian/shlibs.local" "${CPACK_KORVANI_SHLIBS_LOCAL}\n")
endif()
