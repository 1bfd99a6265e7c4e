# Signs FILE in place with osslsigncode (TOOL): SHA-256, the PKCS#12
# CERTIFICATE, its password read from PASSWORD_FILE, and a time-stamp from
# TIMESTAMP_URL when one is given. A failure removes FILE, so that no later
# build or package can take it unsigned, and names the option to look at.
set(signed "${FILE}.signed")
file(REMOVE "${signed}")
set(stamp "")
if(NOT TIMESTAMP_URL STREQUAL "")
  set(stamp -ts "${TIMESTAMP_URL}")
endif()
execute_process(
  COMMAND "${TOOL}" sign -pkcs12 "${CERTIFICATE}" -readpass "${PASSWORD_FILE}" -h sha256
          -n "${DESCRIPTION}" ${stamp} -in "${FILE}" -out "${signed}"
  RESULT_VARIABLE failed OUTPUT_VARIABLE said ERROR_VARIABLE said TIMEOUT 120)
if(NOT failed AND EXISTS "${signed}")
  # osslsigncode writes a plain file; the executable stays executable.
  file(CHMOD "${signed}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                     WORLD_READ WORLD_EXECUTE)
  file(RENAME "${signed}" "${FILE}")
  return()
endif()

file(REMOVE "${signed}" "${FILE}")
if(said MATCHES "read password")
  set(why "LAUNCHER_SIGN_PASSWORD_FILE (${PASSWORD_FILE}): its password cannot be read")
elseif(said MATCHES "Wrong password|mac verify failure")
  set(why "LAUNCHER_SIGN_PASSWORD_FILE (${PASSWORD_FILE}): its password does not open the \
certificate")
elseif(said MATCHES "PKCS#12|PKCS12|asn1")
  set(why "LAUNCHER_SIGN_CERTIFICATE (${CERTIFICATE}): no PKCS#12 certificate with its key")
elseif(said MATCHES "[Tt]ime-?[Ss]tamp|[Tt]imestamp|HTTP|connect" OR failed MATCHES "timeout")
  set(why "LAUNCHER_SIGN_TIMESTAMP_URL (${TIMESTAMP_URL}): no time-stamp from the server")
else()
  set(why "LAUNCHER_SIGN_CERTIFICATE (${CERTIFICATE}): the signature failed")
endif()
message(FATAL_ERROR "Signing ${FILE} failed, see ${why}; the unsigned file was removed.\n"
                    "osslsigncode said:\n${said}")
