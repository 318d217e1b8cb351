# Makes the distribution zip; run by the `dist` target (cmake -P) with
# SOURCE_DIR, WIN64_BUILD_DIR, STAGER32, DEVCTL32, CHECKER32, README, ZIP and
# PYTHON set. The zip is reproducible: its entries in the order of the list
# below, each with the time SOURCE_DATE_EPOCH (cmake/SourceDateEpoch.cmake)
# and mode 0644 (cmake/make_zip.py). With SIGN_PKCS12 (a PKCS#12 file) and
# SIGN_PASSWORD_FILE (the file that holds its password) every program is
# Authenticode-signed (SHA-256) with osslsigncode, time-stamped by
# SIGN_TIMESTAMP_URL when that is given. The password is only ever read by
# osslsigncode from its file: it appears on no command line.
foreach(name SOURCE_DIR WIN64_BUILD_DIR STAGER32 DEVCTL32 CHECKER32 README ZIP PYTHON)
  if(NOT DEFINED ${name})
    message(FATAL_ERROR "MakeDist.cmake: ${name} is not set")
  endif()
endforeach()
if(SIGN_PKCS12)
  foreach(file ${SIGN_PKCS12} ${SIGN_PASSWORD_FILE})
    if(NOT EXISTS ${file})
      message(FATAL_ERROR "MakeDist.cmake: signing needs SIGN_PKCS12 and SIGN_PASSWORD_FILE; missing: ${file}")
    endif()
  endforeach()
  find_program(OSSLSIGNCODE osslsigncode)
  if(NOT OSSLSIGNCODE)
    message(FATAL_ERROR "MakeDist.cmake: signing needs osslsigncode (Debian package osslsigncode)")
  endif()
endif()

# The x86_64 programs: configure their tree when it is new, then build them.
if(NOT EXISTS ${WIN64_BUILD_DIR}/CMakeCache.txt)
  message(STATUS "Configuring the x86_64 build in ${WIN64_BUILD_DIR}")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WIN64_BUILD_DIR} -DCMAKE_BUILD_TYPE=Release
            -DCMAKE_TOOLCHAIN_FILE=${SOURCE_DIR}/cmake/toolchain-x86_64-mingw.cmake
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "configuring ${WIN64_BUILD_DIR} failed")
  endif()
endif()
execute_process(
  COMMAND ${CMAKE_COMMAND} --build ${WIN64_BUILD_DIR} --target MERVODriverStager MERVODevCtl64 MERVOPackageCheck
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "building the x86_64 programs in ${WIN64_BUILD_DIR} failed")
endif()

# The files of the zip, each with its name there.
set(files
  "${STAGER32}|MERVODriverStager.exe"
  "${WIN64_BUILD_DIR}/MERVODriverStager64.exe|MERVODriverStager64.exe"
  "${DEVCTL32}|MERVODevCtl.exe"
  "${WIN64_BUILD_DIR}/tools/devctl/MERVODevCtl64.exe|MERVODevCtl64.exe"
  "${CHECKER32}|MERVOPackageCheck.exe"
  "${WIN64_BUILD_DIR}/tools/packagecheck/MERVOPackageCheck.exe|MERVOPackageCheck64.exe"
  "${SOURCE_DIR}/examples/package/MERVOUSB.inf|MERVOUSB.inf"
  "${SOURCE_DIR}/examples/package/mervousb.sys|mervousb.sys"
  "${SOURCE_DIR}/examples/package/mervoser.sys|mervoser.sys"
  "${README}|README-DEVICE-MAKERS.txt")

# A fresh staging folder beside the zip, so that nothing of an earlier run
# slips in, and the zip made from inside it (names without folders).
get_filename_component(dist_dir ${ZIP} DIRECTORY)
get_filename_component(zip_stem ${ZIP} NAME_WLE)
set(staging ${dist_dir}/${zip_stem})
file(REMOVE_RECURSE ${staging})
file(MAKE_DIRECTORY ${staging})
set(names)
foreach(entry IN LISTS files)
  string(REPLACE "|" ";" pair "${entry}")
  list(GET pair 0 from)
  list(GET pair 1 name)
  if(NOT EXISTS ${from})
    message(FATAL_ERROR "missing for the distribution: ${from}")
  endif()
  file(COPY_FILE ${from} ${staging}/${name})
  list(APPEND names ${name})
endforeach()
# Signing, program by program, in the staging folder.
if(SIGN_PKCS12)
  set(timestamp)
  if(SIGN_TIMESTAMP_URL)
    set(timestamp -ts ${SIGN_TIMESTAMP_URL})
  endif()
  foreach(name IN LISTS names)
    if(NOT name MATCHES "\\.exe$")
      continue()
    endif()
    execute_process(
      COMMAND ${OSSLSIGNCODE} sign -pkcs12 ${SIGN_PKCS12} -readpass ${SIGN_PASSWORD_FILE} -h sha256
              -n "MERVODriverStager ${name}" ${timestamp} -in ${staging}/${name} -out ${staging}/${name}.signed
      RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
      file(REMOVE ${ZIP})
      message(FATAL_ERROR "signing ${name} failed:\n${output}")
    endif()
    file(RENAME ${staging}/${name}.signed ${staging}/${name})
    message(STATUS "Signed ${name}")
  endforeach()
endif()

include(${CMAKE_CURRENT_LIST_DIR}/SourceDateEpoch.cmake)
mervo_source_date_epoch(SOURCE_DATE_EPOCH ${SOURCE_DIR})
file(REMOVE ${ZIP})
execute_process(
  COMMAND ${PYTHON} ${SOURCE_DIR}/cmake/make_zip.py --epoch ${SOURCE_DATE_EPOCH} ${ZIP} ${staging} ${names}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "zipping ${ZIP} failed")
endif()
message(STATUS "Distribution: ${ZIP}")
