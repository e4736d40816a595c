# Read by CPack for each generator once the files to package are staged
# (CPACK_PRE_BUILD_SCRIPTS).

# CPack makes the staging folders with the packer's umask: under umask 077 the DEB's
# folders would be closed to everybody but root, and two packers would differ.
file(CHMOD_RECURSE "${CPACK_TEMPORARY_DIRECTORY}" DIRECTORY_PERMISSIONS
     OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(CPACK_GENERATOR STREQUAL "DEB")
  # dpkg-shlibdeps runs in the staging folder and takes debian/shlibs.local there before
  # the libraries' own symbols files; CPack removes debian/ again before it packs.
  file(WRITE "${CPACK_TEMPORARY_DIRECTORY}/debian/shlibs.local" "${CPACK_KORVANI_SHLIBS_LOCAL}\n")
endif()
