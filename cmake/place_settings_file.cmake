# cmake -DTEMPLATE=<file> -DFOLDER=<folder> -P place_settings_file.cmake
# Writes <folder>/Kestrova.ini from <file> unless the folder has one (see
# KestrovaProgramFolder.cmake).
if(NOT TEMPLATE OR NOT FOLDER)
  message(FATAL_ERROR "usage: cmake -DTEMPLATE=<file> -DFOLDER=<folder> -P place_settings_file.cmake")
endif()
set(settings "${FOLDER}/Kestrova.ini")
if(EXISTS "${settings}" OR IS_SYMLINK "${settings}")
  return()
endif()
file(READ "${TEMPLATE}" text)
string(REPLACE "@PROGRAM_FOLDER@" "${FOLDER}" text "${text}")
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(MAKE_DIRECTORY "${FOLDER}")
file(WRITE "${settings}.new" "${text}")
# A file the operator put there meanwhile stays.
file(RENAME "${settings}.new" "${settings}" NO_REPLACE RESULT moved)
file(REMOVE "${settings}.new")
