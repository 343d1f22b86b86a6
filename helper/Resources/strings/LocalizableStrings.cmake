# quillory_localizable_strings(<po folder> <resources folder> <outputs variable> <language>...)
#
# Builds <resources folder>/<language>.lproj/Localizable.strings from
# <po folder>/<language>.po for each language, and en.lproj from the template
# Localizable.pot itself; sets <outputs variable> to the files made.
set(QUILLORY_PO_TO_STRINGS "${CMAKE_CURRENT_LIST_DIR}/po-to-strings.cmake")

function(quillory_localizable_strings po_dir resources_dir outputs_var)
  set(template "${po_dir}/Localizable.pot")
  set(outputs "")
  foreach(language en ${ARGN})
    set(output "${resources_dir}/${language}.lproj/Localizable.strings")
    set(catalogue_argument "")
    set(depends "${template}")
    if(NOT language STREQUAL "en")
      set(catalogue_argument "-DCATALOGUE=${po_dir}/${language}.po")
      list(APPEND depends "${po_dir}/${language}.po")
    endif()
    add_custom_command(
      OUTPUT "${output}"
      COMMAND ${CMAKE_COMMAND} -E make_directory "${resources_dir}/${language}.lproj"
      COMMAND ${CMAKE_COMMAND} "-DTEMPLATE=${template}" ${catalogue_argument} "-DOUTPUT=${output}"
              -P "${QUILLORY_PO_TO_STRINGS}"
      DEPENDS ${depends} "${QUILLORY_PO_TO_STRINGS}"
      COMMENT "Making ${language}.lproj/Localizable.strings"
      VERBATIM)
    list(APPEND outputs "${output}")
  endforeach()
  set(${outputs_var} "${outputs}" PARENT_SCOPE)
endfunction()
