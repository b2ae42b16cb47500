# What `cmake --install` puts where, and the packages CPack makes of it: natively a .deb of the
# command line, in the Windows builds a .zip of the executables with the README and the license.
# scripts/package.sh makes both into dist/.
set(CPACK_PACKAGE_NAME orvane)
set(CPACK_PACKAGE_VENDOR "Orvane Project")
set(CPACK_PACKAGE_CONTACT "Orvane Project <maintainers@orvane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "reverse the byte order of every fixed-size block of a file")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)

if(WIN32)
  install(TARGETS ${ORVANE_PROGRAM} RUNTIME DESTINATION .)
  # The other Windows build's executable, packaged beside this one's (scripts/package.sh names it).
  set(ORVANE_PACKAGE_ALSO "" CACHE FILEPATH "Another executable for the Windows package")
  if(ORVANE_PACKAGE_ALSO)
    install(PROGRAMS ${ORVANE_PACKAGE_ALSO} DESTINATION .)
  endif()
  install(FILES README.md LICENSE DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME orvane-${PROJECT_VERSION}-windows)
else()
  include(GNUInstallDirs)
  set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/orvane)
  install(TARGETS orvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  # Debian's way, which lintian checks: the manual page and the changelog compressed with gzip -9n
  # (no name or time stamp inside, so the same sources give the same bytes), and the license as the
  # copyright file, in its machine-readable form: the text indented, blank lines as " .".
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CPACK_PACKAGE_CONTACT})
  configure_file(packaging/changelog.in changelog @ONLY)
  file(READ LICENSE license)
  string(REGEX REPLACE "\n+$" "" license "${license}")
  string(REGEX REPLACE "\n" "\n " license "${license}")
  string(REPLACE "\n \n" "\n .\n" license "${license}")
  string(REGEX MATCH "Copyright \\(c\\) [^\n]*" holder "${license}")
  string(REGEX REPLACE "^Copyright \\(c\\) " "" holder "${holder}")
  file(WRITE ${PROJECT_BINARY_DIR}/copyright
    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
    "Upstream-Name: Orvane\n\nFiles: *\nCopyright: ${holder}\nLicense: Expat\n ${license}\n")
  foreach(file ${PROJECT_SOURCE_DIR}/docs/orvane.1 ${PROJECT_BINARY_DIR}/changelog)
    get_filename_component(name ${file} NAME)
    add_custom_command(OUTPUT ${name}.gz
      COMMAND gzip -9n -c ${file} > ${name}.gz
      DEPENDS ${file} WORKING_DIRECTORY ${PROJECT_BINARY_DIR} VERBATIM)
  endforeach()
  add_custom_target(orvane_compressed_docs ALL
    DEPENDS ${PROJECT_BINARY_DIR}/orvane.1.gz ${PROJECT_BINARY_DIR}/changelog.gz)
  install(FILES ${PROJECT_BINARY_DIR}/orvane.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # Where bash-completion loads a command's completion from, the first time it is completed.
  install(FILES packaging/orvane.bash-completion
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME orvane)
  install(FILES ${PROJECT_BINARY_DIR}/copyright ${PROJECT_BINARY_DIR}/changelog.gz
    DESTINATION ${doc_dir})

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # The long description in lines of at most 80 characters, as Debian's policy asks.
  string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Orvane reads a file, reverses the bytes of each consecutive block of 2 to 128"
    "bytes (16-, 24-, 32- or 64-bit values, say), and writes the result to another"
    "file, in place, or to standard output. It reads standard input and named pipes"
    "in pieces, with memory use that stays flat whatever their length.")
  set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endif()
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
include(CPack)
