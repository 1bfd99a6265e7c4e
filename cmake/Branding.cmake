# The name, texts and icon a team ships the launcher under, chosen at configure
# time. Bad values stop the configure step here, naming the option, so that no
# build can yield an executable without an icon or with a cut or garbled name.
set(LAUNCHER_EXE_NAME "launcher" CACHE STRING
    "File name of the launcher executable, without .exe (the trace lines use it)")
set(LAUNCHER_PRODUCT_NAME "launcher" CACHE STRING "Product name in the version information")
set(LAUNCHER_COMPANY_NAME "" CACHE STRING
    "Company name in the version information (empty: none)")
set(LAUNCHER_FILE_DESCRIPTION "launcher" CACHE STRING
    "File description in the version information and the manifest")
set(launcher_default_version "${PROJECT_VERSION}")
if(launcher_default_version STREQUAL "")
  set(launcher_default_version "0.0.0")
endif()
set(LAUNCHER_VERSION "${launcher_default_version}" CACHE STRING
    "Version of the executable: one to four numbers from 0 to 65535 joined by dots (the version information and the manifest)")
# Also included by the standalone Windows test harnesses: paths go from here.
get_filename_component(LAUNCHER_SOURCE_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(LAUNCHER_ICON "${LAUNCHER_SOURCE_ROOT}/src/resources/launcher.svg" CACHE FILEPATH
    "The icon: an SVG drawing (rendered at 16, 32, 48 and 256 pixels) or a Windows .ico file")

find_program(LAUNCHER_RSVG_CONVERT rsvg-convert)
find_program(LAUNCHER_ICOTOOL icotool)
find_program(LAUNCHER_ICONV iconv)
foreach(tool LAUNCHER_RSVG_CONVERT LAUNCHER_ICOTOOL LAUNCHER_ICONV)
  if(NOT ${tool})
    message(FATAL_ERROR "${tool}: not found; scripts/setup build installs librsvg2-bin, icoutils "
                        "and libc-bin")
  endif()
endforeach()

set(branding_scratch "${CMAKE_BINARY_DIR}/CMakeFiles/branding")
file(MAKE_DIRECTORY "${branding_scratch}")

# Windows keeps version texts and file names in UTF-16: the count that matters.
# Text that is not UTF-8 fails here; the resource compiler would silently cut it.
function(launcher_utf16_length option value out)
  file(WRITE "${branding_scratch}/text.utf8" "${value}")
  execute_process(COMMAND "${LAUNCHER_ICONV}" -f UTF-8 -t UTF-16LE
                  INPUT_FILE "${branding_scratch}/text.utf8"
                  OUTPUT_FILE "${branding_scratch}/text.utf16"
                  RESULT_VARIABLE failed ERROR_QUIET)
  if(failed)
    message(FATAL_ERROR "${option} is not valid UTF-8 text: \"${value}\"")
  endif()
  file(SIZE "${branding_scratch}/text.utf16" bytes)
  math(EXPR units "${bytes} / 2")
  set(${out} ${units} PARENT_SCOPE)
endfunction()

function(launcher_refuse_control_characters option value)
  foreach(code RANGE 1 31)
    string(ASCII ${code} control)
    string(FIND "${value}" "${control}" at)
    if(at GREATER_EQUAL 0)
      message(FATAL_ERROR "${option} holds a control character (character ${code}, such as a "
                          "line break or a tab); it must be one line of plain text")
    endif()
  endforeach()
  string(ASCII 127 delete)
  string(FIND "${value}" "${delete}" at)
  if(at GREATER_EQUAL 0)
    message(FATAL_ERROR "${option} holds a control character (character 127)")
  endif()
endfunction()

# A text of the version information. Quotes and backslashes are fine (they are
# escaped for the resource compiler); beyond 64 KiB windres would write a
# wrapped length and so a corrupt resource, and Windows shows these texts on
# one line, so each is kept to a file name's length.
set(LAUNCHER_TEXT_MAX 255)
function(launcher_check_text option allow_empty)
  set(value "${${option}}")
  if(value STREQUAL "")
    if(NOT allow_empty)
      message(FATAL_ERROR "${option} is empty; give the text to show in the version information")
    endif()
    return()
  endif()
  launcher_refuse_control_characters(${option} "${value}")
  launcher_utf16_length(${option} "${value}" length)
  if(length GREATER LAUNCHER_TEXT_MAX)
    message(FATAL_ERROR "${option} is ${length} characters long; at most ${LAUNCHER_TEXT_MAX} "
                        "fit in the version information")
  endif()
endfunction()

function(launcher_check_exe_name)
  set(option LAUNCHER_EXE_NAME)
  set(name "${LAUNCHER_EXE_NAME}")
  if(name STREQUAL "")
    message(FATAL_ERROR "${option} is empty; give the executable's file name without .exe")
  endif()
  launcher_refuse_control_characters(${option} "${name}")
  # What Windows refuses in a file name, and the list separator that CMake
  # cannot carry in a target's file name.
  foreach(bad "<" ">" ":" "\"" "/" "\\" "|" "?" "*" ";")
    string(FIND "${name}" "${bad}" at)
    if(at GREATER_EQUAL 0)
      message(FATAL_ERROR "${option} \"${name}\" holds \"${bad}\", which a file name cannot hold")
    endif()
  endforeach()
  if(name MATCHES "[ .]$" OR name MATCHES "^ ")
    message(FATAL_ERROR "${option} \"${name}\" starts with a blank or ends with a blank or a "
                        "dot, which Windows drops from file names")
  endif()
  string(TOLOWER "${name}" lower)
  if(lower MATCHES "\\.exe$")
    message(FATAL_ERROR "${option} \"${name}\" ends in .exe; give the name without it "
                        "(.exe is added on Windows)")
  endif()
  if(lower MATCHES "^(con|prn|aux|nul|com[1-9]|lpt[1-9])(\\..*)?$")
    message(FATAL_ERROR "${option} \"${name}\" is a device name that Windows reserves")
  endif()
  launcher_utf16_length(${option} "${name}" length)
  # Room for ".exe" in a 255-character file name.
  if(length GREATER 251)
    message(FATAL_ERROR "${option} is ${length} characters long; a file name takes at most 251 "
                        "before .exe")
  endif()
endfunction()

function(launcher_check_icon)
  set(option LAUNCHER_ICON)
  set(icon "${LAUNCHER_ICON}")
  if(NOT EXISTS "${icon}" OR IS_DIRECTORY "${icon}")
    message(FATAL_ERROR "${option}: no icon file at \"${icon}\"")
  endif()
  string(TOLOWER "${icon}" lower)
  if(lower MATCHES "\\.svg$")
    execute_process(COMMAND "${LAUNCHER_RSVG_CONVERT}" -w 16 -h 16 -o "${branding_scratch}/icon.png"
                            "${icon}"
                    RESULT_VARIABLE failed ERROR_VARIABLE why)
    if(failed)
      message(FATAL_ERROR "${option}: \"${icon}\" cannot be drawn as an SVG picture: ${why}")
    endif()
  elseif(lower MATCHES "\\.ico$")
    # Decoding every image proves the file whole; icotool -l reads only the index.
    file(REMOVE_RECURSE "${branding_scratch}/ico")
    file(MAKE_DIRECTORY "${branding_scratch}/ico")
    execute_process(COMMAND "${LAUNCHER_ICOTOOL}" -x --icon -o "${branding_scratch}/ico" "${icon}"
                    RESULT_VARIABLE failed ERROR_VARIABLE why)
    file(GLOB images "${branding_scratch}/ico/*.png")
    if(failed OR NOT why STREQUAL "" OR NOT images)
      message(FATAL_ERROR "${option}: \"${icon}\" is not a readable Windows icon file: ${why}")
    endif()
  else()
    message(FATAL_ERROR "${option}: \"${icon}\" must be an SVG drawing (.svg) or a Windows "
                        "icon (.ico)")
  endif()
endfunction()

# LAUNCHER_VERSION as the four numbers Windows keeps (missing ones are 0), in
# LAUNCHER_VERSION_NUMBERS.
function(launcher_check_version)
  set(option LAUNCHER_VERSION)
  if(NOT LAUNCHER_VERSION MATCHES "^[0-9]+(\\.[0-9]+)?(\\.[0-9]+)?(\\.[0-9]+)?$")
    message(FATAL_ERROR "${option} \"${LAUNCHER_VERSION}\" is no version: one to four numbers "
                        "joined by dots, such as 2.4.1 or 2.4.1.312")
  endif()
  string(REPLACE "." ";" numbers "${LAUNCHER_VERSION}")
  list(LENGTH numbers count)
  while(count LESS 4)
    list(APPEND numbers 0)
    math(EXPR count "${count} + 1")
  endwhile()
  foreach(number IN LISTS numbers)
    string(LENGTH "${number}" digits)
    if(digits GREATER 5 OR number GREATER 65535)
      message(FATAL_ERROR "${option} \"${LAUNCHER_VERSION}\": ${number} is more than 65535, "
                          "the most Windows keeps of each number")
    endif()
  endforeach()
  set(LAUNCHER_VERSION_NUMBERS "${numbers}" PARENT_SCOPE)
endfunction()

launcher_check_exe_name()
launcher_check_version()
launcher_check_text(LAUNCHER_PRODUCT_NAME FALSE)
launcher_check_text(LAUNCHER_COMPANY_NAME TRUE)
launcher_check_text(LAUNCHER_FILE_DESCRIPTION FALSE)
launcher_check_icon()

# A text as a resource-script string: windres reads "" as a quote and
# backslash escapes as in C.
function(launcher_rc_string value out)
  string(REPLACE "\\" "\\\\" value "${value}")
  string(REPLACE "\"" "\"\"" value "${value}")
  set(${out} "\"${value}\"" PARENT_SCOPE)
endfunction()

# Packages are named after the executable: <name>-<version>-<system>.
set(LAUNCHER_PACKAGE_PREFIX "${LAUNCHER_EXE_NAME}-${PROJECT_VERSION}")
