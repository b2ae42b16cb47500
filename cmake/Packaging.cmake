# What `cmake --install` puts where: natively the command line as Debian lays it out, in the Windows
# builds the executable with a README for Windows users and the license. scripts/package.sh installs
# each build into one staging folder and makes the .deb and the .zip of what is there.
#
# orvane_packaged builds what the install takes and nothing else (no tests), for the packages.
add_custom_target(orvane_packaged ALL)
add_dependencies(orvane_packaged ${ORVANE_PROGRAM})
# The version, for the scripts that name the packages and check them.
file(CONFIGURE OUTPUT version.txt CONTENT "${PROJECT_VERSION}\n")

if(WIN32)
  install(TARGETS ${ORVANE_PROGRAM} RUNTIME DESTINATION .)
  # Text files as Windows' own editors expect them: named .txt, with CRLF line ends.
  configure_file(packaging/windows-readme.txt README.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(LICENSE LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${PROJECT_BINARY_DIR}/README.txt ${PROJECT_BINARY_DIR}/LICENSE.txt DESTINATION .)
else()
  include(GNUInstallDirs)
  set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/orvane)

  # The manual page's title line names the version it documents, the project's.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS docs/orvane.1)
  file(STRINGS docs/orvane.1 title REGEX "^\\.TH ")
  string(FIND "${title}" " \"Orvane ${PROJECT_VERSION}\" " at)
  if(at EQUAL -1)
    message(FATAL_ERROR "docs/orvane.1: its title line must name \"Orvane ${PROJECT_VERSION}\", "
                        "the project's version; it reads: ${title}")
  endif()
  install(TARGETS orvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  # Debian's way, which lintian checks: the manual page and the changelog compressed with gzip -9n
  # (no name or time stamp inside, so the same sources give the same bytes), and the license as the
  # copyright file, in its machine-readable form: the text indented, blank lines as " .".
  # debian/ holds what Debian's tools read to write the package's control file: its fields, and
  # the changelog with the version.
  set(ORVANE_MAINTAINER "Orvane Project <maintainers@orvane.example>")
  configure_file(packaging/control.in debian/control @ONLY)
  configure_file(packaging/changelog.in debian/changelog @ONLY)
  file(READ LICENSE license)
  string(REGEX REPLACE "\n+$" "" license "${license}")
  string(REGEX REPLACE "\n" "\n " license "${license}")
  string(REPLACE "\n \n" "\n .\n" license "${license}")
  string(REGEX MATCH "Copyright \\(c\\) [^\n]*" holder "${license}")
  string(REGEX REPLACE "^Copyright \\(c\\) " "" holder "${holder}")
  file(WRITE ${PROJECT_BINARY_DIR}/copyright
    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
    "Upstream-Name: Orvane\n\nFiles: *\nCopyright: ${holder}\nLicense: Expat\n ${license}\n")
  foreach(file ${PROJECT_SOURCE_DIR}/docs/orvane.1 ${PROJECT_BINARY_DIR}/debian/changelog)
    get_filename_component(name ${file} NAME)
    add_custom_command(OUTPUT ${name}.gz
      COMMAND gzip -9n -c ${file} > ${name}.gz
      DEPENDS ${file} WORKING_DIRECTORY ${PROJECT_BINARY_DIR} VERBATIM)
  endforeach()
  add_custom_target(orvane_compressed_docs
    DEPENDS ${PROJECT_BINARY_DIR}/orvane.1.gz ${PROJECT_BINARY_DIR}/changelog.gz)
  add_dependencies(orvane_packaged orvane_compressed_docs)
  install(FILES ${PROJECT_BINARY_DIR}/orvane.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # Where bash-completion loads a command's completion from, the first time it is completed.
  install(FILES packaging/orvane.bash-completion
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME orvane)
  install(FILES ${PROJECT_BINARY_DIR}/copyright ${PROJECT_BINARY_DIR}/changelog.gz
    DESTINATION ${doc_dir})
endif()
