# Lays out, in the folder ROOT, what ld64.lld searches on a Mac, made of the
# SDK's text stubs (.tbd):
#   System/Library/Frameworks/X.framework  the SDK's Frameworks/X.framework; a
#                                          stub frameworks in SHIMS adds for
#                                          what the SDK lacks
#   usr/lib/                               the SDK's lib/ (libobjc), and empty
#                                          libSystem and libc++ stubs
# The stubs find the libraries they re-export by install name under this
# root, as a Mac's linker finds them in its SDK.
function(quillory_make_link_root sdk shims root)
  set(frameworks "${root}/System/Library/Frameworks")
  file(REMOVE_RECURSE "${root}")
  file(MAKE_DIRECTORY "${frameworks}" "${root}/usr/lib")
  file(GLOB sdk_frameworks LIST_DIRECTORIES true "${sdk}/Frameworks/*.framework")
  file(GLOB shim_frameworks LIST_DIRECTORIES true "${shims}/*.framework")
  foreach(framework IN LISTS sdk_frameworks shim_frameworks)
    cmake_path(GET framework FILENAME name)
    if(NOT EXISTS "${frameworks}/${name}")
      file(CREATE_LINK "${framework}" "${frameworks}/${name}" SYMBOLIC)
    endif()
  endforeach()
  file(GLOB sdk_libraries "${sdk}/lib/*.tbd")
  foreach(library IN LISTS sdk_libraries)
    cmake_path(GET library FILENAME name)
    file(CREATE_LINK "${library}" "${root}/usr/lib/${name}" SYMBOLIC)
  endforeach()

  # The driver links every program with -lSystem and C++ ones with -lc++.
  # Neither library has a stub in the SDK: these export nothing, so that the
  # programs load them by their real names; what the programs take from them
  # is left to -undefined dynamic_lookup, and scripts/check-macos accounts
  # for each such symbol.
  foreach(library "libSystem:/usr/lib/libSystem.B.dylib" "libc++:/usr/lib/libc++.1.dylib")
    string(REPLACE ":" ";" library "${library}")
    list(GET library 0 name)
    list(GET library 1 install_name)
    file(WRITE "${root}/usr/lib/${name}.tbd"
         "--- !tapi-tbd\n"
         "tbd-version:     4\n"
         "targets:         [ arm64-macos, x86_64-macos ]\n"
         "install-name:    '${install_name}'\n"
         "...\n")
  endforeach()
endfunction()
