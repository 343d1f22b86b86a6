# Splits a compile_commands.json into what scripts/check-macos needs of each
# translation unit under SOURCE_DIR (the project's, not GoogleTest's):
#   <OUTPUT>/units.tsv        n, its source and its object file (relative to
#                             the build folder), tab-separated, a line each
#   <OUTPUT>/<n>.command      its compile command
#   <OUTPUT>/<n>.analyze.sh   the same command running clang's static analyzer
#                             instead, a report an error, the report itself
#                             next to the object file (<object>.plist)
#   cmake -DCOMPILE_COMMANDS=<json> -DSOURCE_DIR=<folder> -DOUTPUT=<folder> -P compile-commands.cmake
cmake_minimum_required(VERSION 3.25)
get_filename_component(OUTPUT "${OUTPUT}" ABSOLUTE)
file(READ "${COMPILE_COMMANDS}" json)
file(REMOVE_RECURSE "${OUTPUT}")
file(MAKE_DIRECTORY "${OUTPUT}")
set(units "")
string(JSON count LENGTH "${json}")
if(count GREATER 0)
  math(EXPR last "${count} - 1")
  foreach(index RANGE ${last})
    string(JSON directory GET "${json}" ${index} directory)
    string(JSON command GET "${json}" ${index} command)
    string(JSON source GET "${json}" ${index} file)
    cmake_path(IS_PREFIX SOURCE_DIR "${source}" NORMALIZE ours)
    if(NOT ours)
      continue()
    endif()
    if(NOT command MATCHES " -o ([^ ]+) ")
      message(FATAL_ERROR "No object file in: ${command}")
    endif()
    set(object "${CMAKE_MATCH_1}")
    file(WRITE "${OUTPUT}/${index}.command" "${command}\n")
    string(REPLACE " -o ${object} " " --analyze -Xclang -analyzer-werror -o ${object}.plist " analyze "${command}")
    file(WRITE "${OUTPUT}/${index}.analyze.sh" "cd \"${directory}\" && ${analyze}\n")
    string(APPEND units "${index}\t${source}\t${object}\n")
  endforeach()
endif()
file(WRITE "${OUTPUT}/units.tsv" "${units}")
