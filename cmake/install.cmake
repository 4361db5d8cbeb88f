# Where an install puts things (GNUInstallDirs), and the Debian package that
# CPack makes of the same layout. The manual and the changelog go compressed,
# as Debian wants them; the build directory keeps pcre_license.txt beside the
# program, where the credit line points.
include(GNUInstallDirs)
set(orrinvale_doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/orrinvale)

set(compressed_docs)
foreach(name orrinvale.1 changelog)
  configure_file(doc/${name} ${CMAKE_BINARY_DIR}/doc/${name} @ONLY)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/doc/${name}.gz
    COMMAND gzip -9n -c ${CMAKE_BINARY_DIR}/doc/${name} > ${CMAKE_BINARY_DIR}/doc/${name}.gz
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/doc/${name})
  list(APPEND compressed_docs ${CMAKE_BINARY_DIR}/doc/${name}.gz)
endforeach()
add_custom_target(orrinvale_docs ALL DEPENDS ${compressed_docs})

install(TARGETS orrinvale RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_BINARY_DIR}/doc/orrinvale.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The README for users of the program, not the developers' one.
install(FILES doc/user-readme.md DESTINATION ${orrinvale_doc_dir} RENAME README.md)
install(FILES doc/copyright ${CMAKE_BINARY_DIR}/pcre_license.txt ${CMAKE_BINARY_DIR}/doc/changelog.gz
        DESTINATION ${orrinvale_doc_dir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orrinvale)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Orrinvale developers <developers@orrinvale.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "comments out the unreachable procedures of Velmarin programs")
set(CPACK_PACKAGE_DESCRIPTION
    "The Velmarin compiler writes a program as flat assembler source in which
every procedure is a macro and invocation lines expand them. orrinvale finds
the procedures that the main code can reach and turns the invocation lines
of all others into comments, so that the assembler never sees dead code.
It changes nothing else in the file and never leaves it half written.")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
include(CPack)
