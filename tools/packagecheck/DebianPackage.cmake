# The Linux checker as a Debian package for device makers' CI (host tree):
# `cmake --build build/host --target package` makes
# build/host/mervo-packagecheck_<version>_<arch>.deb with
#   /usr/bin/mervo-packagecheck
#   /usr/bin/mervo-makecat                    the catalog maker (tools/makecatalog installs it)
#   /usr/share/mervo-packagecheck/trust/      Microsoft roots and cross-certificates
#   /usr/share/doc/mervo-packagecheck/SCHEMA.md
#   /usr/share/man/man1/mervo-packagecheck.1.gz, mervo-makecat.1.gz
# The checker finds its trust folder as <its folder>/../${MERVO_PACKAGECHECK_TRUST_INSTALL_DIR}.
set(MERVO_DEB_COMPONENT packagecheck)

install(PROGRAMS $<TARGET_FILE:MERVOPackageCheck> DESTINATION bin RENAME mervo-packagecheck
  COMPONENT ${MERVO_DEB_COMPONENT})
if(EXISTS ${MERVO_PACKAGECHECK_TRUST_SOURCE_DIR})
  install(DIRECTORY ${MERVO_PACKAGECHECK_TRUST_SOURCE_DIR}/ DESTINATION ${MERVO_PACKAGECHECK_TRUST_INSTALL_DIR}
    COMPONENT ${MERVO_DEB_COMPONENT} FILES_MATCHING PATTERN "*.pem")
endif()
install(FILES SCHEMA.md DESTINATION share/doc/mervo-packagecheck COMPONENT ${MERVO_DEB_COMPONENT})

include(${CMAKE_SOURCE_DIR}/cmake/ManPage.cmake)
mervo_man_page(mervo-packagecheck ${MERVO_DEB_COMPONENT} packagecheck_man_page)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mervo-packagecheck)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR MERVO)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "checks a USB driver package before MERVODriverStager ships it")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "checks a USB driver package before MERVODriverStager ships it\n\
Tells from the package folder alone what a MERVODriverStager run would do\n\
there and what would go wrong: the devices read from the INF, the files\n\
copied, and the package's catalog signature, checked against the Microsoft\n\
roots shipped with it. Text or JSON report, exit code for CI gates.\n\
mervo-makecat makes the package's unsigned catalog (SHA-1 or SHA-256\n\
members, byte for byte reproducible) for signing on Linux.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "MERVO driver tools")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Depends from the libraries the program links (dpkg-shlibdeps, package dpkg-dev),
# and the system's CA bundle, which vendor chains are checked against by default.
set(CPACK_DEBIAN_PACKAGE_DEPENDS ca-certificates)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Only the checker's files, whatever else the tree installs.
set(CPACK_COMPONENTS_ALL ${MERVO_DEB_COMPONENT})
set(CPACK_DEB_COMPONENT_INSTALL OFF)
set(CPACK_MONOLITHIC_INSTALL OFF)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
include(CPack)

# `ctest -L deb` (scripts/test.sh step test_deb): deb.package makes the
# package; deb.contents lists it; deb.install installs it into a fresh
# Debian 12 root and compares the installed checker's reports and the
# installed maker's catalogs with this tree's (root and mmdebstrap: skipped
# without them; the root is made once per machine, about a minute).
find_package(Python3 COMPONENTS Interpreter REQUIRED)
set(MERVO_DEB_DIR ${CMAKE_BINARY_DIR}/deb)
add_test(NAME deb.package
  COMMAND ${CMAKE_CPACK_COMMAND} --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake -B ${MERVO_DEB_DIR})
set_tests_properties(deb.package PROPERTIES FIXTURES_SETUP deb_package LABELS deb TIMEOUT 300)
set(MERVO_DEB_TEST ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/deb/test_deb.py)
add_test(NAME deb.contents
  COMMAND ${MERVO_DEB_TEST} contents --deb-dir ${MERVO_DEB_DIR} --source ${CMAKE_SOURCE_DIR}
          --version ${PROJECT_VERSION})
add_test(NAME deb.install
  COMMAND ${MERVO_DEB_TEST} install --deb-dir ${MERVO_DEB_DIR} --source ${CMAKE_SOURCE_DIR}
          --version ${PROJECT_VERSION} --checker $<TARGET_FILE:MERVOPackageCheck>
          $<$<TARGET_EXISTS:MERVOMakeCatalog>:--maker=$<TARGET_FILE:MERVOMakeCatalog>>)
set_tests_properties(deb.contents deb.install PROPERTIES
  FIXTURES_REQUIRED deb_package LABELS deb TIMEOUT 1800 SKIP_RETURN_CODE 77)
