# The Windows DLL: xylotrak.dll with plain undecorated exports taken from a
# module-definition file that is made from the header, like the ELF version
# script. (WinHTTP, for the web request, is linked with the other libraries
# in the top-level CMakeLists.txt.)
if(NOT WIN32)
  return()
endif()

set(XYLOTRAK_DEF_FILE ${CMAKE_CURRENT_BINARY_DIR}/xylotrak.def)
xylotrak_write_def_file(${XYLOTRAK_HEADER} ${XYLOTRAK_DEF_FILE} xylotrak.dll)
target_sources(xylotrak PRIVATE ${XYLOTRAK_DEF_FILE})
set_target_properties(xylotrak PROPERTIES
  PREFIX ""
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
  ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})

# Cross builds take GoogleTest from its Debian source package and run the
# test programs later under Wine (see cmake/windows/).
if(CMAKE_CROSSCOMPILING)
  list(PREPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR}/windows)
endif()
