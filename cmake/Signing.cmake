# Authenticode signing of the launcher executable with osslsigncode, right
# after it is linked, so that the package holds the signed file. Unsigned
# unless LAUNCHER_SIGN_CERTIFICATE names a certificate. The password is read
# from a file at build time: it never enters the cache or a command line.
set(LAUNCHER_SIGN_CERTIFICATE "" CACHE FILEPATH
    "PKCS#12 file (.p12 or .pfx) with the code-signing certificate and its key (empty: unsigned)")
set(LAUNCHER_SIGN_PASSWORD_FILE "" CACHE FILEPATH
    "File whose first line is the password of LAUNCHER_SIGN_CERTIFICATE")
set(LAUNCHER_SIGN_TIMESTAMP_URL "" CACHE STRING
    "RFC 3161 time-stamp server that countersigns the signature (empty: none)")

# A password given as a value would sit in the cache, readable by anyone
# who reads the build folder: it is dropped before it can be used.
foreach(name LAUNCHER_SIGN_PASSWORD LAUNCHER_SIGN_CERTIFICATE_PASSWORD)
  if(DEFINED ${name})
    unset(${name} CACHE)
    unset(${name})
    message(FATAL_ERROR "${name} is not taken (it was removed from the cache): put the password "
                        "in a file and name that file with LAUNCHER_SIGN_PASSWORD_FILE")
  endif()
endforeach()

# A readable, non-empty file at `path`, or a stop naming `option`.
function(launcher_sign_check_file option path)
  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "${option}: ${path} does not exist")
  endif()
  if(IS_DIRECTORY "${path}")
    message(FATAL_ERROR "${option}: ${path} is a folder, not a file")
  endif()
  file(SIZE "${path}" size)
  if(size EQUAL 0)
    message(FATAL_ERROR "${option}: ${path} is empty")
  endif()
endfunction()

# Signs `target` after each link, when a certificate is configured.
function(launcher_sign target)
  if(LAUNCHER_SIGN_CERTIFICATE STREQUAL "")
    foreach(option LAUNCHER_SIGN_PASSWORD_FILE LAUNCHER_SIGN_TIMESTAMP_URL)
      if(NOT ${option} STREQUAL "")
        message(FATAL_ERROR "${option} is set but LAUNCHER_SIGN_CERTIFICATE is not: name the "
                            "certificate to sign with, or clear ${option}")
      endif()
    endforeach()
    return()
  endif()
  find_program(LAUNCHER_OSSLSIGNCODE osslsigncode)
  if(NOT LAUNCHER_OSSLSIGNCODE)
    message(FATAL_ERROR "LAUNCHER_SIGN_CERTIFICATE is set but osslsigncode is not installed; "
                        "scripts/setup installs it")
  endif()
  get_filename_component(certificate "${LAUNCHER_SIGN_CERTIFICATE}" ABSOLUTE
                         BASE_DIR "${CMAKE_BINARY_DIR}")
  launcher_sign_check_file(LAUNCHER_SIGN_CERTIFICATE "${certificate}")
  if(LAUNCHER_SIGN_PASSWORD_FILE STREQUAL "")
    message(FATAL_ERROR "LAUNCHER_SIGN_PASSWORD_FILE is not set: name the file that holds the "
                        "password of LAUNCHER_SIGN_CERTIFICATE")
  endif()
  get_filename_component(password_file "${LAUNCHER_SIGN_PASSWORD_FILE}" ABSOLUTE
                         BASE_DIR "${CMAKE_BINARY_DIR}")
  launcher_sign_check_file(LAUNCHER_SIGN_PASSWORD_FILE "${password_file}")
  if(LAUNCHER_SIGN_TIMESTAMP_URL MATCHES "[ \t\r\n]" OR
     NOT LAUNCHER_SIGN_TIMESTAMP_URL MATCHES "^(https?://.+)?$")
    message(FATAL_ERROR "LAUNCHER_SIGN_TIMESTAMP_URL must be an http:// or https:// address: "
                        "\"${LAUNCHER_SIGN_TIMESTAMP_URL}\"")
  endif()
  message(STATUS "${target} is signed with ${certificate}")
  # A new certificate or password relinks, and so signs again.
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${certificate}" "${password_file}")
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND "${CMAKE_COMMAND}" "-DTOOL=${LAUNCHER_OSSLSIGNCODE}" "-DFILE=$<TARGET_FILE:${target}>"
            "-DCERTIFICATE=${certificate}" "-DPASSWORD_FILE=${password_file}"
            "-DTIMESTAMP_URL=${LAUNCHER_SIGN_TIMESTAMP_URL}"
            "-DDESCRIPTION=${LAUNCHER_FILE_DESCRIPTION}"
            -P "${LAUNCHER_SOURCE_ROOT}/cmake/SignFile.cmake"
    COMMENT "Signing ${target} (SHA-256)"
    VERBATIM)
endfunction()
