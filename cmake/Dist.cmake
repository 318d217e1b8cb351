# The distribution (i686 build only): target `dist` makes
# build/dist/MERVODriverStager-<version>.zip with the two programs of this
# tree, their x86_64 builds from another tree (built first, configured if it
# is new), the example package's INF and driver files and the README for
# device makers. Everything lies flat in the zip: it unpacks into the package
# folder from which the stager runs.
# The x86_64 tree: build/win64, or for a tree named <prefix>win32 its sibling
# <prefix>win64 (scripts/common.sh names a second set of trees that way).
set(MERVO_DEFAULT_WIN64_BUILD_DIR ${CMAKE_SOURCE_DIR}/build/win64)
get_filename_component(MERVO_TREE_NAME ${CMAKE_BINARY_DIR} NAME)
if(MERVO_TREE_NAME MATCHES "^(.*)win32$")
  get_filename_component(MERVO_TREE_PARENT ${CMAKE_BINARY_DIR} DIRECTORY)
  set(MERVO_DEFAULT_WIN64_BUILD_DIR ${MERVO_TREE_PARENT}/${CMAKE_MATCH_1}win64)
endif()
set(MERVO_WIN64_BUILD_DIR ${MERVO_DEFAULT_WIN64_BUILD_DIR} CACHE PATH
  "x86_64 build tree that gives MERVODriverStager64.exe and MERVODevCtl64.exe to the distribution")
set(MERVO_DIST_DIR ${CMAKE_SOURCE_DIR}/build/dist CACHE PATH "Folder of the distribution zip")
set(MERVO_DIST_ZIP ${MERVO_DIST_DIR}/MERVODriverStager-${PROJECT_VERSION}.zip)
set(MERVO_DIST_README ${CMAKE_SOURCE_DIR}/dist/README-DEVICE-MAKERS.txt)

add_custom_target(dist
  COMMAND ${CMAKE_COMMAND}
          -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
          -DWIN64_BUILD_DIR=${MERVO_WIN64_BUILD_DIR}
          -DSTAGER32=$<TARGET_FILE:MERVODriverStager>
          -DDEVCTL32=$<TARGET_FILE:MERVODevCtl>
          -DREADME=${MERVO_DIST_README}
          -DZIP=${MERVO_DIST_ZIP}
          -P ${CMAKE_SOURCE_DIR}/cmake/MakeDist.cmake
  COMMENT "Making ${MERVO_DIST_ZIP}"
  VERBATIM)
add_dependencies(dist MERVODriverStager MERVODevCtl)

# `ctest -L dist`: makes the zip, then lists it and checks every file in it
# (names, bytes of the package files, the PE kind of each program).
add_test(NAME dist.make COMMAND ${CMAKE_COMMAND} --build ${CMAKE_BINARY_DIR} --target dist)
set_tests_properties(dist.make PROPERTIES FIXTURES_SETUP dist LABELS dist TIMEOUT 1200)
# dist.checker: the same check refuses faulty copies of that zip.
set(MERVO_DIST_CHECK_ARGUMENTS
  --zip ${MERVO_DIST_ZIP} --package ${CMAKE_SOURCE_DIR}/examples/package
  --readme ${MERVO_DIST_README} --stager32 $<TARGET_FILE:MERVODriverStager>
  --devctl32 $<TARGET_FILE:MERVODevCtl>)
add_test(NAME dist.contents
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/dist/check_dist.py
          ${MERVO_DIST_CHECK_ARGUMENTS})
add_test(NAME dist.checker
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/dist/test_check_dist.py
          ${MERVO_DIST_CHECK_ARGUMENTS})
set_tests_properties(dist.contents dist.checker PROPERTIES
  FIXTURES_REQUIRED dist LABELS dist TIMEOUT 120)
