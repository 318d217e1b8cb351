# Windows build (i686 or x86_64 mingw-w64): the shipped GUI program.
add_library(mervo_win32 STATIC src/platform/win32/Win32Platform.cpp src/platform/win32/CoreWin32.cpp)
target_include_directories(mervo_win32 PUBLIC src)
target_link_libraries(mervo_win32 PUBLIC mervo_seam setupapi advapi32 user32 kernel32)

# Some mingw-w64 toolchains link a default-manifest.o of their own into every
# program (it declares support for Windows Vista to 10, which would change the
# version Windows reports to the program). Our manifest resource must be the
# only one: an empty object of that name, found first through -B, takes its
# place.
set(MERVO_NO_DEFAULT_MANIFEST_DIR ${CMAKE_BINARY_DIR}/no-default-manifest)
file(MAKE_DIRECTORY ${MERVO_NO_DEFAULT_MANIFEST_DIR})
file(WRITE ${MERVO_NO_DEFAULT_MANIFEST_DIR}/empty.c "")
if(NOT EXISTS ${MERVO_NO_DEFAULT_MANIFEST_DIR}/default-manifest.o)
  execute_process(
    COMMAND ${CMAKE_C_COMPILER} -c empty.c -o default-manifest.o
    WORKING_DIRECTORY ${MERVO_NO_DEFAULT_MANIFEST_DIR}
    RESULT_VARIABLE MERVO_EMPTY_MANIFEST_RESULT)
  if(NOT MERVO_EMPTY_MANIFEST_RESULT EQUAL 0)
    message(FATAL_ERROR "cannot build the empty default-manifest.o")
  endif()
endif()

add_executable(MERVODriverStager WIN32 src/platform/win32/StagerResources.rc)
# windres finds the manifest file beside the .rc through this include folder.
target_include_directories(MERVODriverStager PRIVATE src/platform/win32)
# The version record shows the project's version (CMakeLists.txt).
set_property(SOURCE src/platform/win32/StagerResources.rc APPEND PROPERTY COMPILE_DEFINITIONS
  MERVO_VERSION_MAJOR=${PROJECT_VERSION_MAJOR} MERVO_VERSION_MINOR=${PROJECT_VERSION_MINOR}
  MERVO_VERSION_PATCH=${PROJECT_VERSION_PATCH} MERVO_VERSION_TWEAK=${PROJECT_VERSION_TWEAK}
  MERVO_VERSION_DOTTED=${PROJECT_VERSION})
set_property(SOURCE src/platform/win32/StagerResources.rc APPEND PROPERTY OBJECT_DEPENDS
  ${CMAKE_SOURCE_DIR}/src/platform/win32/MERVODriverStager.manifest)
target_link_libraries(MERVODriverStager PRIVATE mervo_stager)
# Static runtime (only system DLLs in the import table), GUI subsystem.
target_link_options(MERVODriverStager PRIVATE -static -mwindows -B${MERVO_NO_DEFAULT_MANIFEST_DIR}/)

# The x86_64 build also ships as MERVODriverStager64.exe, the name under which
# the 32-bit stager finds it beside itself on 64-bit Windows; the plain name
# stays for the tests and the demo, which run it under Wine.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  add_custom_command(TARGET MERVODriverStager POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:MERVODriverStager>
            $<TARGET_FILE_DIR:MERVODriverStager>/MERVODriverStager64.exe)
endif()

# The shipped file itself: architecture, subsystem, imports, version record
# and manifest, read from its PE headers on the host.
find_package(Python3 COMPONENTS Interpreter REQUIRED)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(MERVO_PE_ARCH x86_64)
else()
  set(MERVO_PE_ARCH i386)
endif()
add_test(NAME pe_check
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/pe/check_pe.py
          --arch ${MERVO_PE_ARCH} $<TARGET_FILE:MERVODriverStager>)
set_tests_properties(pe_check PROPERTIES LABELS pe)

# The Windows-side GoogleTest programs (end-to-end tests, conformance rows)
# use GoogleTest from the Debian sources, cross-built with this tree's
# compilers and not held to the project's warning flags.
get_directory_property(MERVO_SAVED_OPTIONS COMPILE_OPTIONS)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "${MERVO_SAVED_OPTIONS}")

# The other Windows tree: build/<to>, or for a tree named <prefix><from> its
# sibling <prefix><to> (scripts/common.sh names a second set of trees that way).
function(mervo_sibling_tree out from to)
  set(dir ${CMAKE_SOURCE_DIR}/build/${to})
  get_filename_component(name ${CMAKE_BINARY_DIR} NAME)
  if(name MATCHES "^(.*)${from}$")
    get_filename_component(parent ${CMAKE_BINARY_DIR} DIRECTORY)
    set(dir ${parent}/${CMAKE_MATCH_1}${to})
  endif()
  set(${out} ${dir} PARENT_SCOPE)
endfunction()

# The other Windows tree of this one: the x86_64 tree gives the i686 tree's
# distribution and hand-off tests their 64-bit programs; the i686 tree gives
# the x86_64 tree's wow64 tests the shipped 32-bit ones.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  mervo_sibling_tree(MERVO_DEFAULT_WIN64_BUILD_DIR win32 win64)
  set(MERVO_WIN64_BUILD_DIR ${MERVO_DEFAULT_WIN64_BUILD_DIR} CACHE PATH
    "x86_64 build tree that gives MERVODriverStager64.exe and MERVODevCtl64.exe to the distribution")
else()
  mervo_sibling_tree(MERVO_DEFAULT_WIN32_BUILD_DIR win64 win32)
  set(MERVO_WIN32_BUILD_DIR ${MERVO_DEFAULT_WIN32_BUILD_DIR} CACHE PATH
    "i686 build tree whose programs the wow64 end-to-end tests run")
endif()

# The 32-bit level: every test that starts a 32-bit Windows program (in the
# WoW64 root) goes through scripts/wow64-probe.sh's gate, which the probe of
# the test run (test wow64.probe, set up for them) opens or closes. Where this
# machine cannot run 32-bit code at all, such tests are reported as skipped
# with the probe's reason; where it can, they run as any other test, and the
# probe's x86_64 control makes sure that a broken root still fails.
add_executable(MERVOWow64Probe tests/wow64/Wow64Probe.cpp)
target_link_options(MERVOWow64Probe PRIVATE -static)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(MERVO_PROBE32 $<TARGET_FILE:MERVOWow64Probe>)
  set(MERVO_PROBE64 ${MERVO_WIN64_BUILD_DIR}/MERVOWow64Probe.exe)
else()
  set(MERVO_PROBE32 ${MERVO_WIN32_BUILD_DIR}/MERVOWow64Probe.exe)
  set(MERVO_PROBE64 $<TARGET_FILE:MERVOWow64Probe>)
endif()
set(MERVO_WOW64_PROBE ${CMAKE_SOURCE_DIR}/scripts/wow64-probe.sh)
set(MERVO_WOW64_VERDICT ${CMAKE_BINARY_DIR}/wow64-probe/verdict)
# The command prefix of a test that starts a 32-bit program.
set(MERVO_32BIT_GATE ${MERVO_WOW64_PROBE} gate ${MERVO_WOW64_VERDICT})
add_test(NAME wow64.probe
  COMMAND ${MERVO_WOW64_PROBE} probe ${MERVO_WOW64_VERDICT} ${MERVO_PROBE32} ${MERVO_PROBE64})
# Making the WoW64 root the first time takes minutes.
set_tests_properties(wow64.probe PROPERTIES FIXTURES_SETUP wow64_probe LABELS wow64 TIMEOUT 900)
# Both of the gate's answers, and the failures that must never become skips,
# proven on every machine (the x86_64 probe stands in for the i686 one).
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  add_test(NAME wow64.probe_paths
    COMMAND ${CMAKE_SOURCE_DIR}/tests/wow64/probe_paths.sh $<TARGET_FILE:MERVOWow64Probe>
            ${CMAKE_BINARY_DIR}/wow64-probe-paths)
  set_tests_properties(wow64.probe_paths PROPERTIES LABELS wow64 TIMEOUT 900
    PASS_REGULAR_EXPRESSION "all probe paths passed" FAIL_REGULAR_EXPRESSION "FAILED")
endif()

# mervo_needs_32bit(TEST...): the tests whose command starts with
# MERVO_32BIT_GATE; label 32bit lists them (scripts/test.sh counts them).
function(mervo_needs_32bit)
  set_property(TEST ${ARGN} APPEND PROPERTY FIXTURES_REQUIRED wow64_probe)
  set_property(TEST ${ARGN} APPEND PROPERTY LABELS 32bit)
  set_tests_properties(${ARGN} PROPERTIES SKIP_RETURN_CODE 77)
endfunction()

if(EXISTS ${CMAKE_SOURCE_DIR}/tests/e2e/CMakeLists.txt AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  add_subdirectory(tests/e2e)
endif()

# The platform conformance table on the real Win32 table.
add_subdirectory(tests/conformance)

# A test program from the same i686 sources whose platform table answers
# "not WOW64": under WoW64 it runs the sequence in the 32-bit process itself
# (the wow64 end-to-end tests of the x86_64 tree run it).
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_executable(MERVODriverStagerNotWow64 WIN32 tests/wow64/NotWow64Stager.cpp)
  target_link_libraries(MERVODriverStagerNotWow64 PRIVATE mervo_stager)
  target_link_options(MERVODriverStagerNotWow64 PRIVATE -static -mwindows -B${MERVO_NO_DEFAULT_MANIFEST_DIR}/)
endif()

# The example setup program is a 64-bit one, made from the x86_64 build.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  include(cmake/Installer.cmake)
endif()

# The distribution zip (target dist) is made from the i686 build.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  include(cmake/Dist.cmake)
endif()
