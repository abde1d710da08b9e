# Cross builds for Windows: the test programs cannot run at build time, so
# test discovery is replaced by a list of the portable GoogleTest programs,
# build-win/windows-tests.txt, which the Wine test run executes one by one.
#
# A test program is portable unless one of its sources includes a POSIX-only
# header (it forks, loads libraries with dlopen, opens sockets...). Such a
# program is left out of the Windows build.

string(CONCAT XYLOTRAK_POSIX_ONLY_INCLUDE
  "#[ \t]*include[ \t]*<(unistd|dlfcn|spawn|poll|pwd|netdb"
  "|sys/(wait|mman|socket|un|resource|select|ioctl|uio)|netinet/[a-z_]+|arpa/[a-z_]+)\\.h>")

function(xylotrak_windows_portable target out_var)
  get_target_property(sources ${target} SOURCES)
  get_target_property(source_dir ${target} SOURCE_DIR)
  foreach(source IN LISTS sources)
    if(NOT IS_ABSOLUTE "${source}")
      set(source "${source_dir}/${source}")
    endif()
    if(EXISTS "${source}")
      file(READ "${source}" text)
      if(text MATCHES "${XYLOTRAK_POSIX_ONLY_INCLUDE}")
        set(${out_var} FALSE PARENT_SCOPE)
        return()
      endif()
    endif()
  endforeach()
  set(${out_var} TRUE PARENT_SCOPE)
endfunction()

function(gtest_discover_tests target)
  xylotrak_windows_portable(${target} portable)
  if(portable)
    set_property(GLOBAL APPEND PROPERTY XYLOTRAK_WINDOWS_GTESTS ${target})
  else()
    message(STATUS "${target}: POSIX-only, left out of the Windows build")
    set_target_properties(${target} PROPERTIES EXCLUDE_FROM_ALL TRUE)
  endif()
endfunction()

function(gtest_add_tests)
  cmake_parse_arguments(arg "" "TARGET" "" ${ARGN})
  if(arg_TARGET)
    gtest_discover_tests(${arg_TARGET})
  endif()
endfunction()

# Written once every test directory has been read.
function(xylotrak_write_windows_test_list)
  get_property(targets GLOBAL PROPERTY XYLOTRAK_WINDOWS_GTESTS)
  set(content "")
  foreach(target IN LISTS targets)
    string(APPEND content "$<TARGET_FILE:${target}>\n")
  endforeach()
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/windows-tests.txt CONTENT "${content}")
endfunction()
get_property(_xylotrak_list_deferred GLOBAL PROPERTY XYLOTRAK_WINDOWS_TEST_LIST_DEFERRED)
if(NOT _xylotrak_list_deferred)
  set_property(GLOBAL PROPERTY XYLOTRAK_WINDOWS_TEST_LIST_DEFERRED TRUE)
  cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL xylotrak_write_windows_test_list)
endif()
