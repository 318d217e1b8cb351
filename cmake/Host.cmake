# Host build: the logic on the simulated Windows, with the GoogleTest suite.
add_library(mervo_simulated STATIC
  src/platform/simulated/Faults.cpp
  src/platform/simulated/Files.cpp
  src/platform/simulated/Machine.cpp
  src/platform/simulated/Messages.cpp
  src/platform/simulated/Paths.cpp
  src/platform/simulated/Processes.cpp
  src/platform/simulated/SetupApi.cpp
  src/platform/simulated/Streams.cpp
  src/platform/simulated/Sync.cpp
  src/platform/simulated/System.cpp)
target_include_directories(mervo_simulated PUBLIC src)
target_link_libraries(mervo_simulated PUBLIC mervo_seam mervo_inf_text)

find_package(GTest REQUIRED)
include(GoogleTest)

# Test helpers without the test framework or a platform (temporary folders,
# the run log's format, INF fixtures), shared by every host test program.
add_library(mervo_test_support STATIC tests/support/InfFixtures.cpp tests/support/RunLogFormat.cpp
  tests/support/TempFolder.cpp)
target_include_directories(mervo_test_support PUBLIC tests/support)

file(GLOB MERVO_HOST_TESTS CONFIGURE_DEPENDS tests/host/*_test.cpp tests/host/simulated/*_test.cpp)
add_executable(host_tests ${MERVO_HOST_TESTS} tests/host/TestSupport.cpp tests/host/SimPackage.cpp
  tests/host/DocumentedBoxes.cpp)
target_include_directories(host_tests PRIVATE tests/host)
target_link_libraries(host_tests PRIVATE mervo_stager mervo_simulated mervo_test_support GTest::gtest_main)
target_compile_definitions(host_tests PRIVATE
  MERVO_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
  MERVO_INF_CORPUS="${MERVO_INF_CORPUS_DIR}")
gtest_discover_tests(host_tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS host)

# The platform conformance table on the simulated Windows (the same rows run on
# the real Win32 table in the Windows trees).
add_executable(conformance_tests tests/conformance/Conformance_test.cpp
  tests/conformance/HostMachine.cpp tests/conformance/InfModelAnswers.cpp
  tools/packagecheck/InfModel.cpp tools/packagecheck/InfInstall.cpp)
target_include_directories(conformance_tests PRIVATE tests/conformance tools/packagecheck)
target_link_libraries(conformance_tests PRIVATE mervo_simulated mervo_test_support GTest::gtest_main)
gtest_discover_tests(conformance_tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS conformance)
