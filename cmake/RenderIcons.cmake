# Turns the configured icon into what the packages carry: launcher.ico for the
# Windows executable and PNGs in the freedesktop layout
# (hicolor/<size>x<size>/apps/<NAME>.png) for Linux desktops.
# Called at build time with ICON, OUT, NAME, RSVG and ICOTOOL.
file(REMOVE_RECURSE "${OUT}")
file(MAKE_DIRECTORY "${OUT}/png")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed ERROR_VARIABLE why)
  if(failed OR NOT why STREQUAL "")
    message(FATAL_ERROR "'${ARGN}' failed: ${why}")
  endif()
endfunction()

string(TOLOWER "${ICON}" lower)
if(lower MATCHES "\\.svg$")
  set(sizes 16 32 48 256)
  foreach(size IN LISTS sizes)
    run("${RSVG}" -w ${size} -h ${size} -o "${OUT}/png/${size}.png" "${ICON}")
  endforeach()
  # The small sizes as bitmaps, which every Windows version reads; 256 as PNG,
  # the form Windows expects at that size.
  run("${ICOTOOL}" -c -o "${OUT}/launcher.ico" "${OUT}/png/16.png" "${OUT}/png/32.png"
      "${OUT}/png/48.png" -r "${OUT}/png/256.png")
else()
  file(COPY_FILE "${ICON}" "${OUT}/launcher.ico")
  file(MAKE_DIRECTORY "${OUT}/extracted")
  run("${ICOTOOL}" -x --icon -o "${OUT}/extracted" "${ICON}")
  # Names end in _<width>x<height>x<depth>.png; per size the deepest image wins.
  file(GLOB images "${OUT}/extracted/*.png")
  foreach(image IN LISTS images)
    if(image MATCHES "_([0-9]+)x([0-9]+)x([0-9]+)\\.png$" AND CMAKE_MATCH_1 EQUAL CMAKE_MATCH_2)
      set(size ${CMAKE_MATCH_1})
      set(depth ${CMAKE_MATCH_3})
      if(NOT DEFINED best_${size} OR depth GREATER best_${size})
        set(best_${size} ${depth})
        file(COPY_FILE "${image}" "${OUT}/png/${size}.png")
        list(APPEND sizes ${size})
      endif()
    endif()
  endforeach()
  list(REMOVE_DUPLICATES sizes)
endif()

foreach(size IN LISTS sizes)
  file(MAKE_DIRECTORY "${OUT}/hicolor/${size}x${size}/apps")
  file(COPY_FILE "${OUT}/png/${size}.png" "${OUT}/hicolor/${size}x${size}/apps/${NAME}.png")
endforeach()
