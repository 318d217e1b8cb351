# The example setup program (x86_64 tree): target `installer` makes
# installer/MERVOSetup-<version>.exe in this tree with Debian's makensis from
# the distribution's files (the example package, this tree's stager and
# companion tool, the device makers' README), with the maker's publisher
# certificate when MERVO_INSTALLER_CERTIFICATE names one.
find_program(MERVO_MAKENSIS makensis)
set(MERVO_INSTALLER_CERTIFICATE "" CACHE FILEPATH
  "Publisher certificate (DER or PEM) that the example setup program trusts; empty: none")
set(MERVO_MAKE_INSTALLER
  -DSTAGER=$<TARGET_FILE:MERVODriverStager>
  -DDEVCTL=$<TARGET_FILE:MERVODevCtl64>
  -DREADME=${CMAKE_SOURCE_DIR}/dist/README-DEVICE-MAKERS.txt
  -DMAKENSIS=${MERVO_MAKENSIS}
  -DSCRIPT=${CMAKE_SOURCE_DIR}/examples/installer/MERVOSetup.nsi
  -DVERSION=${PROJECT_VERSION})
add_custom_target(installer
  COMMAND ${CMAKE_COMMAND} ${MERVO_MAKE_INSTALLER}
          -DPACKAGE=${CMAKE_SOURCE_DIR}/examples/package
          -DCERTIFICATE=${MERVO_INSTALLER_CERTIFICATE}
          -DWORK=${CMAKE_BINARY_DIR}/installer/package
          -DOUTFILE=${CMAKE_BINARY_DIR}/installer/MERVOSetup-${PROJECT_VERSION}.exe
          -P ${CMAKE_SOURCE_DIR}/cmake/MakeInstaller.cmake
  COMMENT "Making installer/MERVOSetup-${PROJECT_VERSION}.exe"
  VERBATIM)
add_dependencies(installer MERVODriverStager MERVODevCtl64)

# `ctest -L installer`: the setup program under Wine, from silent install to
# silent uninstall, with its own installers (a package signed by the test
# publisher, and one the stager refuses with 15), in a prefix of its own.
add_executable(MERVOInstallerStarter tests/installer/InstallerStarter.cpp)
target_link_options(MERVOInstallerStarter PRIVATE -static)
# The check makes its installers with the same script and inputs, read from here.
string(REPLACE ";" "\n" MERVO_MAKE_INSTALLER_LINES "${MERVO_MAKE_INSTALLER}")
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/installer/make-installer.args
  CONTENT "${MERVO_MAKE_INSTALLER_LINES}\n")
add_test(NAME installer.wine
  COMMAND sh ${CMAKE_SOURCE_DIR}/tests/installer/check_installer.sh
          ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}/installer-prefix ${CMAKE_COMMAND})
set_tests_properties(installer.wine PROPERTIES LABELS installer TIMEOUT 600
  PASS_REGULAR_EXPRESSION "all checks passed" FAIL_REGULAR_EXPRESSION "FAILED")
