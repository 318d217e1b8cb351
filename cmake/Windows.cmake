# Windows build (i686 or x86_64 mingw-w64): the shipped GUI program.
add_library(mervo_win32 STATIC src/platform/win32/Win32Platform.cpp)
target_include_directories(mervo_win32 PUBLIC src)
target_link_libraries(mervo_win32 PUBLIC mervo_logic setupapi advapi32 user32 kernel32)

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
# The entry point lives in the logic library; pull it in explicitly.
target_link_libraries(MERVODriverStager PRIVATE -Wl,--whole-archive mervo_logic -Wl,--no-whole-archive mervo_win32)
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
  target_link_libraries(MERVODriverStagerNotWow64 PRIVATE
    -Wl,--whole-archive mervo_logic -Wl,--no-whole-archive mervo_win32)
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
