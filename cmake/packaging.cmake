# Installation and the Debian packages. `make install` and CPack run the same install()
# rules, so the packages hold exactly what an installation holds: the component program
# is the package varnex, the component python (the Python module) python3-varnex.
include(GNUInstallDirs)

# The maintainer named by the package and its changelog. Packagers set their own:
# cmake -DVARNEX_MAINTAINER="Name <address>".
set(VARNEX_MAINTAINER "Varnex developers <varnex-developers@example.org>"
    CACHE STRING "Maintainer of the Debian package, as Name <address>")
if(NOT VARNEX_MAINTAINER MATCHES "^[^<>@]*[^<>@ ] <[^<>@ ]+@[^<>@ ]+\\.[^<>@ ]+>$")
  message(FATAL_ERROR "VARNEX_MAINTAINER is \"${VARNEX_MAINTAINER}\", not Name <address>")
endif()

# The generator's build name has an underscore like every target; installed, it is
# varnex-archive like the program's other commands. install(PROGRAMS) is not stripped by
# `cmake --install --strip` (nor by CPack) as install(TARGETS) is, so it is stripped here.
install(PROGRAMS $<TARGET_FILE:varnex_archive> DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME varnex-archive
        COMPONENT program)
install(CODE "if(CMAKE_INSTALL_DO_STRIP)
  execute_process(COMMAND \"${CMAKE_STRIP}\"
                  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/varnex-archive\"
                  COMMAND_ERROR_IS_FATAL ANY)
endif()" COMPONENT program)

# The man pages and the changelog are installed gzipped (gzip -9n: the same bytes on every
# build); the copyright file is LICENSE in the Debian machine-readable format.
set(VARNEX_DOCS_DIR ${PROJECT_BINARY_DIR}/docs)
set(VARNEX_DOCS)
foreach(page varnex.1 varnex-archive.1)
  add_custom_command(
    OUTPUT ${VARNEX_DOCS_DIR}/${page}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/man/${page} ${VARNEX_DOCS_DIR}/${page}
    COMMAND gzip -9nf ${VARNEX_DOCS_DIR}/${page}
    DEPENDS ${PROJECT_SOURCE_DIR}/man/${page}
    VERBATIM)
  list(APPEND VARNEX_DOCS ${VARNEX_DOCS_DIR}/${page}.gz)
endforeach()
add_custom_command(
  OUTPUT ${VARNEX_DOCS_DIR}/changelog.gz
  COMMAND sh ${PROJECT_SOURCE_DIR}/tools/debian_changelog.sh ${PROJECT_SOURCE_DIR}/CHANGELOG.md
          ${PROJECT_NAME} ${PROJECT_VERSION} ${VARNEX_MAINTAINER} ${VARNEX_DOCS_DIR}/changelog.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/tools/debian_changelog.sh
  VERBATIM)
list(APPEND VARNEX_DOCS ${VARNEX_DOCS_DIR}/changelog.gz)
add_custom_target(varnex_docs ALL DEPENDS ${VARNEX_DOCS})

set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
if(NOT license MATCHES "Copyright \\(c\\) ([0-9]+), ([^\n]+)\n")
  message(FATAL_ERROR "LICENSE has no line Copyright (c) YEAR, HOLDER")
endif()
set(copyright_line "${CMAKE_MATCH_1} ${CMAKE_MATCH_2}")
# The licence text after the copyright line, each line indented, empty lines as " .".
string(REGEX REPLACE "^.*Copyright \\(c\\) [^\n]*\n\n*" "" license_text "${license}")
string(STRIP "${license_text}" license_text)
string(REGEX REPLACE "\n\n" "\n.\n" license_text "${license_text}")
string(REGEX REPLACE "\n" "\n " license_text "${license_text}")
file(WRITE ${VARNEX_DOCS_DIR}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${PROJECT_NAME}
Upstream-Contact: ${VARNEX_MAINTAINER}

Files: *
Copyright: ${copyright_line}
License: BSD-3-Clause
 ${license_text}
")

install(FILES ${VARNEX_DOCS_DIR}/varnex.1.gz ${VARNEX_DOCS_DIR}/varnex-archive.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT program)
install(FILES ${VARNEX_DOCS_DIR}/copyright ${VARNEX_DOCS_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR}
        COMPONENT program)

# The Python module goes where Debian's python3 looks: /usr/lib/python3/dist-packages for
# the prefix /usr, PREFIX/lib/python3.X/dist-packages for any other (/usr/local among them).
# The prefix is known only when installing (cmake --install --prefix, or CPack's /usr), so
# the place is chosen then; file(INSTALL) is not stripped as install(TARGETS) is.
if(VARNEX_PYTHON)
  set(VARNEX_PYTHON_SERIES ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR})
  math(EXPR next_minor "${Python3_VERSION_MINOR} + 1")
  set(VARNEX_PYTHON_NEXT_SERIES ${Python3_VERSION_MAJOR}.${next_minor})
  install(CODE "
if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
  set(module_dir \"\${CMAKE_INSTALL_PREFIX}/lib/python3/dist-packages\")
else()
  set(module_dir \"\${CMAKE_INSTALL_PREFIX}/lib/python${VARNEX_PYTHON_SERIES}/dist-packages\")
endif()
file(INSTALL \"$<TARGET_FILE:varnex_python>\" DESTINATION \"\${module_dir}\"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
if(CMAKE_INSTALL_DO_STRIP)
  execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded
                  \"\$ENV{DESTDIR}\${module_dir}/$<TARGET_FILE_NAME:varnex_python>\" COMMAND_ERROR_IS_FATAL ANY)
endif()"
          COMPONENT python)
  install(FILES ${VARNEX_DOCS_DIR}/copyright ${VARNEX_DOCS_DIR}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/python3-varnex COMPONENT python)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varnex)
set(CPACK_PACKAGE_VENDOR "Varnex developers")
set(CPACK_PACKAGE_CONTACT "${VARNEX_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VARNEX_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "monthly station temperature series from a station archive")
# Lines of at most 80 columns, as the Debian policy asks of a description.
set(CPACK_PACKAGE_DESCRIPTION
    "Varnex reads a Valmora station archive (site_summary.txt and data.txt), keeps
the stations of a latitude/longitude box whose records cover a span of years,
and writes their monthly series. The package also holds varnex-archive, which
writes synthetic archives for trying the program out.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL program)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME varnex)
# Each package's synopsis is the summary above, followed by its component's description.
set(CPACK_COMPONENT_PROGRAM_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
if(VARNEX_PYTHON)
  list(APPEND CPACK_COMPONENTS_ALL python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-varnex)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
      "python3 (>= ${VARNEX_PYTHON_SERIES}), python3 (<< ${VARNEX_PYTHON_NEXT_SERIES}), python3-numpy, python3-xarray, python3-pandas")
  set(CPACK_COMPONENT_PYTHON_DESCRIPTION
      "The Python module varnex runs the Varnex station engine in-process: it reads a
Valmora station archive and returns the saved stations' monthly series as an
xarray Dataset, and the verdict on each station and the selected stations as
pandas DataFrames, without temporary files.")
endif()
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
  # The README's and the man page's examples on the bundled sample, run as they are written.
  add_test(NAME doc_examples COMMAND bash ${PROJECT_SOURCE_DIR}/tests/package/doc_examples_test.sh
           $<TARGET_FILE:varnex> ${PROJECT_SOURCE_DIR})
  set_tests_properties(doc_examples PROPERTIES LABELS docs SKIP_RETURN_CODE 77)
  add_test(NAME debian_package COMMAND bash ${PROJECT_SOURCE_DIR}/tests/package/debian_package_test.sh
           ${PROJECT_BINARY_DIR} ${PROJECT_VERSION} ${VARNEX_PYTHON})
  set_tests_properties(debian_package PROPERTIES LABELS package SKIP_RETURN_CODE 77 TIMEOUT 300)
endif()
