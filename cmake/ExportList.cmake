# Reads the export names from the public header: every declaration that
# starts with XYLOTRAK_API. The header is the one list of what the library
# exports; the linker's version script is made from it.
function(xylotrak_read_exports header out_var)
  file(READ "${header}" text)
  # Only lines that begin with the macro: the macro's own #define lines and
  # anything after them are not declarations.
  string(REGEX MATCHALL "\nXYLOTRAK_API[^;(#]*[ *]([A-Za-z_][A-Za-z_0-9]*)[ ]*\\(" decls
         "\n${text}")
  set(names "")
  foreach(decl IN LISTS decls)
    string(REGEX REPLACE ".*[ *]([A-Za-z_][A-Za-z_0-9]*)[ ]*\\($" "\\1" name "${decl}")
    list(APPEND names "${name}")
  endforeach()
  list(REMOVE_DUPLICATES names)
  list(SORT names)
  set(${out_var} "${names}" PARENT_SCOPE)
endfunction()

function(xylotrak_write_version_script header out_file)
  xylotrak_read_exports("${header}" names)
  set(body "{\n  global:\n")
  foreach(name IN LISTS names)
    string(APPEND body "    ${name};\n")
  endforeach()
  string(APPEND body "  local:\n    *;\n};\n")
  file(CONFIGURE OUTPUT "${out_file}" CONTENT "${body}")
endfunction()

# Writes the module-definition file of the Windows DLL: every export under its
# plain undecorated name. VTCiDll is the one documented alias: when the header
# declares both it and VTHuDll, VTCiDll is exported as a second name of
# VTHuDll's entry point, so both names share one address.
function(xylotrak_write_def_file header out_file dll_name)
  xylotrak_read_exports("${header}" names)
  list(FIND names "VTHuDll" huber)
  set(body "LIBRARY \"${dll_name}\"\nEXPORTS\n")
  foreach(name IN LISTS names)
    if(name STREQUAL "VTCiDll" AND huber GREATER -1)
      string(APPEND body "  VTCiDll = VTHuDll\n")
    else()
      string(APPEND body "  ${name}\n")
    endif()
  endforeach()
  file(CONFIGURE OUTPUT "${out_file}" CONTENT "${body}")
endfunction()
