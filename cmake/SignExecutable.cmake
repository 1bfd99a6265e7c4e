# Signs EXE in place with osslsigncode: SHA-256, the PKCS#12 CERTIFICATE whose
# password osslsigncode reads from PASSWORD_FILE, and a time stamp from
# TIMESTAMP_URL when one is given. Run by the build after linking
# (cmake/Signing.cmake). On failure EXE is removed and the message names the
# option to look at.
set(signed "${EXE}.signed")
file(REMOVE "${signed}")

function(fail option why)
  file(REMOVE "${EXE}" "${signed}")
  message(FATAL_ERROR "${option}: ${why}\nosslsigncode said:\n${said}")
endfunction()

foreach(option CERTIFICATE PASSWORD_FILE)
  if(NOT EXISTS "${${option}}")
    set(said "")
    fail(LAUNCHER_SIGN_${option} "no such file: \"${${option}}\"")
  endif()
endforeach()

set(args sign -pkcs12 "${CERTIFICATE}" -readpass "${PASSWORD_FILE}" -h sha256)
set(stamp "")
if(NOT TIMESTAMP_URL STREQUAL "")
  list(APPEND args -ts "${TIMESTAMP_URL}")
  set(stamp ", time-stamped by ${TIMESTAMP_URL}")
endif()
# A time-stamp server that never answers must not hold the build forever.
execute_process(COMMAND "${OSSLSIGNCODE}" ${args} -in "${EXE}" -out "${signed}"
                RESULT_VARIABLE result OUTPUT_VARIABLE said ERROR_VARIABLE said TIMEOUT 120)
if(NOT result EQUAL 0 OR NOT EXISTS "${signed}")
  if(said MATCHES "Wrong password|mac verify failure")
    fail(LAUNCHER_SIGN_PASSWORD_FILE
         "the password it holds does not open the certificate \"${CERTIFICATE}\" (the whole "
         "file is the password, less the line ends at its end: one line, no comment)")
  elseif(said MATCHES "PKCS#12|PKCS12|key or certificates")
    fail(LAUNCHER_SIGN_CERTIFICATE
         "\"${CERTIFICATE}\" is no PKCS#12 file holding a certificate and its key")
  elseif(NOT TIMESTAMP_URL STREQUAL "" AND said MATCHES "[Tt]imestamp|HTTP|connect")
    fail(LAUNCHER_SIGN_TIMESTAMP_URL "no time stamp from ${TIMESTAMP_URL}")
  else()
    fail(LAUNCHER_SIGN_CERTIFICATE "signing ${EXE} failed (${result})")
  endif()
endif()
file(RENAME "${signed}" "${EXE}")
message(STATUS "Signed ${EXE} (SHA-256${stamp})")
