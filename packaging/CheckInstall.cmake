# SPDX-License-Identifier: GPL-3.0-or-later
# The install_layout test: `cmake --install BUILD_DIR --prefix PREFIX` into an empty PREFIX, then
# checks that the programs, the desktop entry, the icons, the man pages, the sample, the copyright
# file and the changelog are where desktops, man and Debian look for them, that each icon has the
# size its folder names, that the installed varnel-batch runs and reports VERSION, and that the
# desktop entry validates (hints allowed).
# Arguments (-D): BUILD_DIR, PREFIX, VERSION, GUI, ICON_SIZES and MAN_PAGES (comma-separated),
# DESKTOP_FILE_VALIDATE (the program, or empty or *-NOTFOUND to skip the validation).
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${status}):\n${output}")
endif()

set(expected bin/varnel-batch share/varnel/samples/flicker.wmv share/doc/varnel/copyright
  share/doc/varnel/changelog.gz)
string(REPLACE "," ";" ICON_SIZES "${ICON_SIZES}")
string(REPLACE "," ";" MAN_PAGES "${MAN_PAGES}")
if(GUI)
  list(APPEND expected bin/varnel share/applications/varnel.desktop)
  foreach(size IN LISTS ICON_SIZES)
    list(APPEND expected share/icons/hicolor/${size}x${size}/apps/varnel.png)
  endforeach()
endif()
foreach(page IN LISTS MAN_PAGES)
  list(APPEND expected share/man/man1/${page})
endforeach()
foreach(file IN LISTS expected)
  if(NOT EXISTS "${PREFIX}/${file}")
    message(SEND_ERROR "not installed: ${file}")
  endif()
endforeach()

# A PNG gives its width and height as two 32-bit big-endian numbers from byte 16.
if(GUI)
  foreach(size IN LISTS ICON_SIZES)
    set(icon "${PREFIX}/share/icons/hicolor/${size}x${size}/apps/varnel.png")
    if(EXISTS "${icon}")
      file(READ "${icon}" header OFFSET 16 LIMIT 8 HEX)
      string(SUBSTRING "${header}" 0 8 width_hex)
      string(SUBSTRING "${header}" 8 8 height_hex)
      math(EXPR width "0x${width_hex}")
      math(EXPR height "0x${height_hex}")
      if(NOT width EQUAL size OR NOT height EQUAL size)
        message(SEND_ERROR "${icon} is ${width}x${height}, not ${size}x${size}")
      endif()
    endif()
  endforeach()
endif()

execute_process(COMMAND "${PREFIX}/bin/varnel-batch" --version
  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output
  OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT status EQUAL 0 OR NOT output STREQUAL "varnel-batch ${VERSION}")
  message(SEND_ERROR "installed varnel-batch --version gave \"${output}\" (${status}), "
                     "not \"varnel-batch ${VERSION}\"")
endif()

if(GUI)
  if(DESKTOP_FILE_VALIDATE)
    execute_process(COMMAND "${DESKTOP_FILE_VALIDATE}"
      "${PREFIX}/share/applications/varnel.desktop"
      RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT status EQUAL 0 OR output MATCHES "error:|warning:")
      message(SEND_ERROR "desktop-file-validate rejects varnel.desktop:\n${output}")
    endif()
  else()
    message(STATUS "desktop-file-validate not found (apt-get install desktop-file-utils): "
                   "the desktop entry is not validated")
  endif()
endif()
