# The distribution (i686 build only): target `dist` makes
# build/dist/MERVODriverStager-<version>.zip with the two programs of this
# tree, their x86_64 builds from another tree (built first, configured if it
# is new), the example package's INF and driver files and the README for
# device makers. Everything lies flat in the zip: it unpacks into the package
# folder from which the stager runs.
# The x86_64 tree is MERVO_WIN64_BUILD_DIR (cmake/Windows.cmake).
set(MERVO_DIST_DIR ${CMAKE_SOURCE_DIR}/build/dist CACHE PATH "Folder of the distribution zip")
set(MERVO_DIST_ZIP ${MERVO_DIST_DIR}/MERVODriverStager-${PROJECT_VERSION}.zip)
set(MERVO_DIST_README ${CMAKE_SOURCE_DIR}/dist/README-DEVICE-MAKERS.txt)

# Authenticode signing of every program of the zip (osslsigncode, SHA-256):
# the maker's PKCS#12 certificate and the file that holds its password (the
# password itself is never given on a command line), and optionally an
# RFC 3161 time-stamp server. Without a certificate the programs stay unsigned.
set(MERVO_SIGN_PKCS12 "" CACHE FILEPATH "PKCS#12 file (.p12/.pfx) to sign the distribution's programs with")
set(MERVO_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the password of MERVO_SIGN_PKCS12")
set(MERVO_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp server for the signatures (optional)")

# MakeDist.cmake's inputs, but the zip and the signing.
set(MERVO_DIST_DEFINES
  -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
  -DWIN64_BUILD_DIR=${MERVO_WIN64_BUILD_DIR}
  -DSTAGER32=$<TARGET_FILE:MERVODriverStager>
  -DDEVCTL32=$<TARGET_FILE:MERVODevCtl>
  -DCHECKER32=$<TARGET_FILE:MERVOPackageCheck>
  -DREADME=${MERVO_DIST_README}
  -DPYTHON=${Python3_EXECUTABLE})

add_custom_target(dist
  COMMAND ${CMAKE_COMMAND} ${MERVO_DIST_DEFINES}
          -DZIP=${MERVO_DIST_ZIP}
          -DSIGN_PKCS12=${MERVO_SIGN_PKCS12}
          -DSIGN_PASSWORD_FILE=${MERVO_SIGN_PASSWORD_FILE}
          -DSIGN_TIMESTAMP_URL=${MERVO_SIGN_TIMESTAMP_URL}
          -P ${CMAKE_SOURCE_DIR}/cmake/MakeDist.cmake
  COMMENT "Making ${MERVO_DIST_ZIP}"
  VERBATIM)
add_dependencies(dist MERVODriverStager MERVODevCtl MERVOPackageCheck)

# `ctest -L dist`: makes the zip, then lists it and checks every file in it
# (names, bytes of the package files, the PE kind of each program).
add_test(NAME dist.make COMMAND ${CMAKE_COMMAND} --build ${CMAKE_BINARY_DIR} --target dist)
set_tests_properties(dist.make PROPERTIES FIXTURES_SETUP dist LABELS dist TIMEOUT 1200)
# dist.checker: the same check refuses faulty copies of that zip.
set(MERVO_DIST_CHECK_ARGUMENTS
  --zip ${MERVO_DIST_ZIP} --package ${CMAKE_SOURCE_DIR}/examples/package
  --readme ${MERVO_DIST_README} --stager32 $<TARGET_FILE:MERVODriverStager>
  --devctl32 $<TARGET_FILE:MERVODevCtl> --checker32 $<TARGET_FILE:MERVOPackageCheck>)
add_test(NAME dist.contents
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/dist/check_dist.py
          ${MERVO_DIST_CHECK_ARGUMENTS})
add_test(NAME dist.checker
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/dist/test_check_dist.py
          ${MERVO_DIST_CHECK_ARGUMENTS})
# dist.signed: a zip signed with a throw-away certificate (made by the test
# with openssl) in a folder of the test's own; every program verifies with
# osslsigncode against that certificate and still passes the PE checks, and
# a wrong password makes no zip.
add_test(NAME dist.signed
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/dist/test_signed_dist.py
          --cmake ${CMAKE_COMMAND} --make-dist ${CMAKE_SOURCE_DIR}/cmake/MakeDist.cmake
          --work ${CMAKE_BINARY_DIR}/dist-signed
          ${MERVO_DIST_CHECK_ARGUMENTS} -- ${MERVO_DIST_DEFINES})
set_tests_properties(dist.contents dist.checker dist.signed PROPERTIES
  FIXTURES_REQUIRED dist LABELS dist TIMEOUT 600)
# dist.reproducible: a clean build of this tree's commit, in a folder of
# another path under dist-reproducible, gives the same zip as this tree's
# own, byte for byte, and signed, the two differ only in the programs'
# signatures. Builds only the distribution's programs, once (about 1.5
# minutes on two idle cores). Where this tree has uncommitted changes it
# builds a second clean clone as the reference. Skipped outside a git clone.
add_test(NAME dist.reproducible
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/dist/test_reproducible_dist.py
          --source ${CMAKE_SOURCE_DIR} --work ${CMAKE_BINARY_DIR}/dist-reproducible
          --cmake ${CMAKE_COMMAND} --quiet --zip ${MERVO_DIST_ZIP}
          --make-dist ${CMAKE_SOURCE_DIR}/cmake/MakeDist.cmake -- ${MERVO_DIST_DEFINES})
set_tests_properties(dist.reproducible PROPERTIES FIXTURES_REQUIRED dist LABELS "dist;reproducible"
  TIMEOUT 3600 SKIP_RETURN_CODE 77)
