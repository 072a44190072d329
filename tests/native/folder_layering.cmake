# Each folder includes only from the folders below it in this order, and the
# portable top of a folder nothing of Win32: run with -DSOURCE_DIR=<project>.
# The folders from options to reader follow a code's path: the line, its
# text, its keys, and the reader that ties them.
#   platform <- options <- line, text <- keys <- reader <- settings, settings_dialog <- app
cmake_minimum_required(VERSION 3.25)
set(allowed_platform platform)
set(allowed_options platform options)
set(allowed_line platform options line)
set(allowed_text platform options text)
set(allowed_keys platform options text keys)
set(allowed_reader platform options line text keys reader)
set(allowed_settings ${allowed_reader} settings)
set(allowed_settings_dialog ${allowed_reader} settings_dialog)
set(allowed_app ${allowed_reader} settings settings_dialog app)
# Until the reader records what became of a code, the typist writes the
# record itself.
set(known_tangles "keys/win/win_typist.h: #include \"reader/recent_codes.h\"")
set(folders platform options line text keys reader settings settings_dialog app)

set(faults "")
foreach(folder ${folders})
  file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.cpp)
  foreach(source ${sources})
    file(STRINGS ${SOURCE_DIR}/${source} includes REGEX "^#include ")
    string(REGEX MATCH "^${folder}/win/" isWin32 "${source}")
    foreach(line ${includes})
      if(line MATCHES "^#include \"([a-z_]+)/")
        if(NOT CMAKE_MATCH_1 IN_LIST allowed_${folder} AND NOT "${source}: ${line}" IN_LIST known_tangles)
          list(APPEND faults "${source}: ${line}")
        endif()
      endif()
      if(NOT isWin32 AND line MATCHES "^#include (<windows.h>|\"[a-z_]+/win/)")
        list(APPEND faults "${source} is portable: ${line}")
      endif()
    endforeach()
  endforeach()
endforeach()
if(faults)
  list(JOIN faults "\n  " text)
  message(FATAL_ERROR "includes against the folders' order:\n  ${text}")
endif()
