# Makes the example setup program (cmake -P): lays out the program folder's
# files in WORK and builds SCRIPT with makensis into OUTFILE.
#   PACKAGE      folder of the driver package (its files but README.md are taken)
#   STAGER       the x86_64 stager (installed as MERVODriverStager64.exe)
#   DEVCTL       the x86_64 companion tool (as MERVODevCtl.exe and MERVODevCtl64.exe)
#   README       the device makers' README
#   CERTIFICATE  the maker's publisher certificate (as publisher.cer); empty: none
#   MAKENSIS, SCRIPT, WORK, OUTFILE, VERSION
#   TURN_WAIT_MS the longest wait for the machine's turn (optional; the
#                script's 5 minutes when not given)
foreach(name PACKAGE STAGER DEVCTL README MAKENSIS SCRIPT WORK OUTFILE VERSION)
  if(NOT DEFINED ${name} OR "${${name}}" STREQUAL "")
    message(FATAL_ERROR "MakeInstaller.cmake: ${name} is not set")
  endif()
endforeach()
if(NOT EXISTS "${MAKENSIS}")
  message(FATAL_ERROR "MakeInstaller.cmake: makensis missing (Debian package nsis)")
endif()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
file(GLOB package_files LIST_DIRECTORIES false "${PACKAGE}/*")
foreach(file IN LISTS package_files)
  get_filename_component(name "${file}" NAME)
  if(NOT name STREQUAL "README.md")
    file(COPY "${file}" DESTINATION "${WORK}")
  endif()
endforeach()
file(COPY_FILE "${STAGER}" "${WORK}/MERVODriverStager64.exe")
file(COPY_FILE "${DEVCTL}" "${WORK}/MERVODevCtl64.exe")
# The 64-bit stager starts the companion tool under its one name.
file(COPY_FILE "${DEVCTL}" "${WORK}/MERVODevCtl.exe")
file(COPY_FILE "${README}" "${WORK}/README-DEVICE-MAKERS.txt")
if(NOT "${CERTIFICATE}" STREQUAL "")
  file(COPY_FILE "${CERTIFICATE}" "${WORK}/publisher.cer")
endif()

get_filename_component(out_dir "${OUTFILE}" DIRECTORY)
file(MAKE_DIRECTORY "${out_dir}")
set(turn_wait)
if(DEFINED TURN_WAIT_MS AND NOT "${TURN_WAIT_MS}" STREQUAL "")
  set(turn_wait -DTURN_WAIT_MS=${TURN_WAIT_MS})
endif()
execute_process(
  COMMAND "${MAKENSIS}" -V2 -DPACKAGE_DIR=${WORK} -DOUTFILE=${OUTFILE} -DVERSION=${VERSION} ${turn_wait}
          "${SCRIPT}"
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "MakeInstaller.cmake: makensis failed (${result})")
endif()
