# Writes a Localizable.strings table of a macOS bundle from the gettext
# catalogues, the one source of the translations:
#
#   cmake -DTEMPLATE=Localizable.pot [-DCATALOGUE=de.po] -DOUTPUT=Localizable.strings -P po-to-strings.cmake
#
# Every message of the template becomes one entry keyed by its English text
# (the message id), with its translation from the catalogue; the English
# text where the catalogue has none or only a fuzzy one (msgfmt leaves those
# out too), and throughout without a catalogue. UTF-8, one line per entry:
# "key" = "value"; with quotes, backslashes and line breaks escaped.
# A CMake script so that it runs wherever the build does, cross builds too.
cmake_minimum_required(VERSION 3.25)

if(NOT TEMPLATE OR NOT OUTPUT)
  message(FATAL_ERROR "Usage: cmake -DTEMPLATE=<pot> [-DCATALOGUE=<po>] -DOUTPUT=<strings> -P ${CMAKE_CURRENT_LIST_FILE}")
endif()

# Stands for an escaped backslash while the other escapes are decoded.
string(ASCII 1 backslash_mark)

# The text of a quoted PO string, its escapes decoded.
function(po_unescape text out where)
  string(REPLACE "\\\\" "${backslash_mark}" text "${text}")
  if(text MATCHES "\\\\([^\"ntr]|$)")
    message(FATAL_ERROR "${where}: unsupported escape \\${CMAKE_MATCH_1}")
  endif()
  string(REPLACE "\\\"" "\"" text "${text}")
  string(REPLACE "\\n" "\n" text "${text}")
  string(REPLACE "\\t" "\t" text "${text}")
  string(REPLACE "\\r" "\r" text "${text}")
  string(REPLACE "${backslash_mark}" "\\" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The text as the body of a quoted .strings string.
function(strings_escape text out)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  string(REPLACE "\n" "\\n" text "${text}")
  string(REPLACE "\t" "\\t" text "${text}")
  string(REPLACE "\r" "\\r" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Reads a catalogue into <prefix>_ids (hashes of the message ids, in order),
# <prefix>_id_<hash> and <prefix>_str_<hash>; fuzzy translations are left
# out. Message texts never go into CMake lists: they may hold ";".
macro(read_catalogue path prefix)
  file(READ "${path}" content)
  string(REPLACE "\r\n" "\n" content "${content}")
  string(APPEND content "\n")
  set(${prefix}_ids "")
  set(line_number 0)
  set(keyword "")
  set(is_fuzzy FALSE)
  while(NOT content STREQUAL "")
    string(FIND "${content}" "\n" end)
    string(SUBSTRING "${content}" 0 ${end} line)
    math(EXPR end "${end} + 1")
    string(SUBSTRING "${content}" ${end} -1 content)
    math(EXPR line_number "${line_number} + 1")
    set(where "${path}:${line_number}")

    set(text "")
    if(line MATCHES "^(msgctxt|msgid_plural|msgstr\\[)")
      message(FATAL_ERROR "${where}: contexts and plural forms have no place in a flat table")
    elseif(line MATCHES "^(msgid|msgstr)[ \t]+\"(.*)\"[ \t]*$")
      set(new_keyword "${CMAKE_MATCH_1}")
      set(text "${CMAKE_MATCH_2}")
    elseif(line MATCHES "^[ \t]*\"(.*)\"[ \t]*$")
      if(keyword STREQUAL "")
        message(FATAL_ERROR "${where}: a string outside an entry")
      endif()
      set(new_keyword "${keyword}")
      set(text "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^[ \t]*(#.*)?$")
      set(new_keyword "")
    else()
      message(FATAL_ERROR "${where}: not a line of a gettext catalogue: ${line}")
    endif()

    # An entry ends where its msgstr is followed by anything but its own continuation.
    if(keyword STREQUAL "msgstr" AND NOT new_keyword STREQUAL "msgstr")
      if(NOT msgid STREQUAL "")  # "" is the catalogue's header
        string(MD5 hash "${msgid}")
        if(DEFINED ${prefix}_id_${hash})
          message(FATAL_ERROR "${where}: the message \"${msgid}\" appears twice")
        endif()
        list(APPEND ${prefix}_ids ${hash})
        set(${prefix}_id_${hash} "${msgid}")
        if(NOT is_fuzzy AND NOT msgstr STREQUAL "")
          set(${prefix}_str_${hash} "${msgstr}")
        endif()
      endif()
      set(is_fuzzy FALSE)
    elseif(keyword STREQUAL "msgid" AND NOT new_keyword MATCHES "^msg")
      message(FATAL_ERROR "${where}: a msgid without its msgstr")
    endif()

    if(line MATCHES "^#,.*[ ,]fuzzy([ ,]|$)")
      set(is_fuzzy TRUE)
    endif()
    po_unescape("${text}" text "${where}")
    if(new_keyword STREQUAL keyword)
      string(APPEND ${keyword} "${text}")
    elseif(NOT new_keyword STREQUAL "")
      set(${new_keyword} "${text}")
    endif()
    set(keyword "${new_keyword}")
  endwhile()
endmacro()

read_catalogue("${TEMPLATE}" template)
if(CATALOGUE)
  read_catalogue("${CATALOGUE}" catalogue)
  get_filename_component(source "${CATALOGUE}" NAME)
else()
  get_filename_component(source "${TEMPLATE}" NAME)
endif()

set(table "/* Made from ${source} at build time: translate in the catalogue. */\n")
foreach(hash IN LISTS template_ids)
  set(key "${template_id_${hash}}")
  set(value "${key}")
  if(DEFINED catalogue_str_${hash})
    set(value "${catalogue_str_${hash}}")
  endif()
  strings_escape("${key}" key)
  strings_escape("${value}" value)
  string(APPEND table "\"${key}\" = \"${value}\";\n")
endforeach()
file(WRITE "${OUTPUT}" "${table}")
