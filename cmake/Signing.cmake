# Authenticode signing of the Windows launcher, off unless a certificate is
# given. The build signs the linked executable with osslsigncode (SHA-256),
# so every later step, the zip among them, takes the signed file. The password
# is read from a file by osslsigncode itself: it is never in the cache or on a
# command line. Missing or empty files stop the configure step here; a wrong
# password or a failed signature stops the build (cmake/SignExecutable.cmake),
# each naming the option. A certificate or password file changed in place
# (a renewed certificate) links and signs the executable again.
set(LAUNCHER_SIGN_CERTIFICATE "" CACHE FILEPATH
    "PKCS#12 file (.pfx, .p12) holding the code-signing certificate and its key (empty: unsigned)")
set(LAUNCHER_SIGN_PASSWORD_FILE "" CACHE FILEPATH
    "File holding the certificate's password on one line: the whole file, less the line ends (CR, LF) at its end")
set(LAUNCHER_SIGN_TIMESTAMP_URL "" CACHE STRING
    "RFC 3161 time-stamp server for the signature (empty: no time stamp)")

function(launcher_check_sign_file option)
  set(path "${${option}}")
  if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
    message(FATAL_ERROR "${option}: no such file: \"${path}\"")
  endif()
  file(SIZE "${path}" bytes)
  if(bytes EQUAL 0)
    message(FATAL_ERROR "${option}: \"${path}\" is empty")
  endif()
endfunction()

# Signs `target` right after it is linked. A failed signature removes the
# unsigned file, so that no later step can pick it up and the next build
# links and signs anew.
function(launcher_sign_after_build target)
  if(LAUNCHER_SIGN_CERTIFICATE STREQUAL "")
    if(NOT LAUNCHER_SIGN_PASSWORD_FILE STREQUAL "" OR NOT LAUNCHER_SIGN_TIMESTAMP_URL STREQUAL "")
      message(FATAL_ERROR "LAUNCHER_SIGN_PASSWORD_FILE and LAUNCHER_SIGN_TIMESTAMP_URL need "
                          "LAUNCHER_SIGN_CERTIFICATE, the certificate to sign with")
    endif()
    return()
  endif()
  launcher_check_sign_file(LAUNCHER_SIGN_CERTIFICATE)
  if(LAUNCHER_SIGN_PASSWORD_FILE STREQUAL "")
    message(FATAL_ERROR "LAUNCHER_SIGN_CERTIFICATE needs LAUNCHER_SIGN_PASSWORD_FILE, a file "
                        "holding the certificate's password")
  endif()
  launcher_check_sign_file(LAUNCHER_SIGN_PASSWORD_FILE)
  if(LAUNCHER_SIGN_TIMESTAMP_URL MATCHES "[ \t\r\n]" OR
     (NOT LAUNCHER_SIGN_TIMESTAMP_URL STREQUAL "" AND
      NOT LAUNCHER_SIGN_TIMESTAMP_URL MATCHES "^https?://"))
    message(FATAL_ERROR "LAUNCHER_SIGN_TIMESTAMP_URL: \"${LAUNCHER_SIGN_TIMESTAMP_URL}\" is no "
                        "http:// or https:// address")
  endif()
  if(LAUNCHER_SIGN_TIMESTAMP_URL STREQUAL "")
    message(WARNING "LAUNCHER_SIGN_TIMESTAMP_URL is empty: the signature has no time stamp, and "
                    "Windows stops trusting it when the certificate expires")
  endif()
  find_program(LAUNCHER_OSSLSIGNCODE osslsigncode)
  if(NOT LAUNCHER_OSSLSIGNCODE)
    message(FATAL_ERROR "LAUNCHER_SIGN_CERTIFICATE is set but osslsigncode is not found; "
                        "scripts/setup installs it")
  endif()
  # The signature is made after linking only: a changed certificate or password
  # file must relink.
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS
               "${LAUNCHER_SIGN_CERTIFICATE}" "${LAUNCHER_SIGN_PASSWORD_FILE}")
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DOSSLSIGNCODE=${LAUNCHER_OSSLSIGNCODE}
            -DEXE=$<TARGET_FILE:${target}>
            -DCERTIFICATE=${LAUNCHER_SIGN_CERTIFICATE}
            -DPASSWORD_FILE=${LAUNCHER_SIGN_PASSWORD_FILE}
            -DTIMESTAMP_URL=${LAUNCHER_SIGN_TIMESTAMP_URL}
            -P ${LAUNCHER_SOURCE_ROOT}/cmake/SignExecutable.cmake
    COMMENT "Signing $<TARGET_FILE_NAME:${target}> with ${LAUNCHER_SIGN_CERTIFICATE}"
    VERBATIM)
endfunction()
