# Windows build (i686 or x86_64 mingw-w64): the shipped GUI program.
add_library(mervo_win32 STATIC src/platform/Win32Platform.cpp)
target_include_directories(mervo_win32 PUBLIC src)
target_link_libraries(mervo_win32 PUBLIC mervo_logic setupapi advapi32 user32 kernel32)

add_executable(MERVODriverStager WIN32 src/platform/StagerResources.rc)
# The entry point lives in the logic library; pull it in explicitly.
target_link_libraries(MERVODriverStager PRIVATE -Wl,--whole-archive mervo_logic -Wl,--no-whole-archive mervo_win32)
target_link_options(MERVODriverStager PRIVATE -static -mwindows)

if(EXISTS ${CMAKE_SOURCE_DIR}/tests/e2e/CMakeLists.txt AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  add_subdirectory(tests/e2e)
endif()
