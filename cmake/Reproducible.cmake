# Reproducible builds: the same commit gives the same bytes, in any folder and
# on any day. The one time that goes into the distribution is
# SOURCE_DATE_EPOCH (cmake/SourceDateEpoch.cmake, read by MakeDist.cmake).

# No build or source folder in the objects: __FILE__ (in assertions of the
# libraries' headers) and debug information name files relative to the tree.
# -ffile-prefix-map covers both the macro and the debug prefix maps.
add_compile_options(
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=>"
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}/=>")

# Static archives without member times, owners or modes (ar's D modifier),
# so that nothing of the build's time passes through them.
foreach(language C CXX)
  set(CMAKE_${language}_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${language}_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${language}_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")
endforeach()

# The PE linker writes the link time into the file header unless told not to
# (the debug directory, when there is one, takes the same stamp). GNU windres
# writes no time into the resource directory.
if(WIN32)
  add_link_options(-Wl,--no-insert-timestamp)
endif()
