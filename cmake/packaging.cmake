# Installation and the Debian package. `make install` and CPack run the same install()
# rules, so the package holds exactly what an installation holds.
include(GNUInstallDirs)

# The generator's build name has an underscore like every target; installed, it is
# varnex-archive like the program's other commands.
install(PROGRAMS $<TARGET_FILE:varnex_archive> DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME varnex-archive)
install(FILES ${PROJECT_SOURCE_DIR}/man/varnex.1 ${PROJECT_SOURCE_DIR}/man/varnex-archive.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varnex)
set(CPACK_PACKAGE_VENDOR "Varnex developers")
set(CPACK_PACKAGE_CONTACT "Varnex developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "monthly station temperature series from a station archive")
set(CPACK_PACKAGE_DESCRIPTION
    "Varnex reads a Valmora station archive (site_summary.txt and data.txt), keeps the stations of a \
latitude/longitude box whose records cover a span of years, and writes their monthly series.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
# dpkg-shlibdeps (dpkg-dev) works out the libraries: libgomp1, libstdc++6, libgcc-s1, libc6.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)

if(BUILD_TESTING)
  add_test(NAME man_page COMMAND bash ${PROJECT_SOURCE_DIR}/tests/package/man_page_test.sh
           $<TARGET_FILE:varnex> ${PROJECT_SOURCE_DIR}/man/varnex.1)
  add_test(NAME man_page_archive COMMAND bash ${PROJECT_SOURCE_DIR}/tests/package/man_page_test.sh
           $<TARGET_FILE:varnex_archive> ${PROJECT_SOURCE_DIR}/man/varnex-archive.1 "varnex ${PROJECT_VERSION}")
  set_tests_properties(man_page man_page_archive PROPERTIES LABELS docs SKIP_RETURN_CODE 77)
  add_test(NAME debian_package COMMAND bash ${PROJECT_SOURCE_DIR}/tests/package/debian_package_test.sh
           ${PROJECT_BINARY_DIR} ${PROJECT_VERSION})
  set_tests_properties(debian_package PROPERTIES LABELS package SKIP_RETURN_CODE 77 TIMEOUT 300)
endif()
