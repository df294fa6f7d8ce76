# The settings file a program folder is delivered with. It is the
# operator's from the moment it is there: placed only where the folder has
# none, never replaced.
#
#   kestrova_place_settings_file(<target> TEMPLATE <file> FOLDER <folder>)
#       a target of every build that writes <file> as <folder>/Kestrova.ini
#       when there is no such file, @PROGRAM_FOLDER@ replaced by <folder>
#       (an absolute path) and its lines ended CR LF as the programs end
#       theirs
#
# The same step by hand (what the target runs):
#   cmake -DTEMPLATE=<file> -DFOLDER=<folder> -P cmake/place_settings_file.cmake
set(KESTROVA_PLACE_SETTINGS_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/place_settings_file.cmake)

function(kestrova_place_settings_file target)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "TEMPLATE;FOLDER" "")
  add_custom_target(${target} ALL
    COMMAND ${CMAKE_COMMAND} -DTEMPLATE=${ARG_TEMPLATE} -DFOLDER=${ARG_FOLDER}
            -P ${KESTROVA_PLACE_SETTINGS_SCRIPT}
    COMMENT "Placing Kestrova.ini in ${ARG_FOLDER} unless one is there"
    VERBATIM)
endfunction()
