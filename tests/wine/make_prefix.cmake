# Creates the tests' own Wine prefix, once: later runs find the mark and return
# at once. Called by CTest with WINE (the loader), WINESERVER, ARCH and PREFIX.
if(EXISTS "${PREFIX}/launcher-prefix-ready")
  return()
endif()

set(ENV{WINEPREFIX} "${PREFIX}")
set(ENV{WINEARCH} "${ARCH}")
set(ENV{WINEDEBUG} "-all")
# No Mono or Gecko: their install prompt would wait for a click under Xvfb.
set(ENV{WINEDLLOVERRIDES} "mscoree,mshtml=;winemenubuilder.exe=d")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out
                  TIMEOUT 180)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "'${ARGN}' failed (${rc}):\n${out}")
  endif()
endfunction()

run(${WINE} wineboot -i)
# With no window manager under Xvfb, Wine waits up to 2 s whenever a captioned
# window is hidden; an unmanaged desktop does not.
run(${WINE} reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f)
run(${WINESERVER} -w)
file(TOUCH "${PREFIX}/launcher-prefix-ready")
