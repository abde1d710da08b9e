# Cross builds for Windows: the test programs cannot run at build time, so
# test discovery is replaced by a list of the portable GoogleTest programs,
# build-win/windows-tests.txt, which the Wine test run executes one by one.
#
# A test program is portable unless one of its sources, or a header of the
# test directory that it includes, includes a POSIX-only header (it forks,
# loads libraries with dlopen, opens sockets...) outside any preprocessor
# conditional. Such a program is left out of the Windows build; an include
# inside #if/#ifdef/#ifndef (other than a header's include guard) is taken as
# guarded by its author.

string(CONCAT XYLOTRAK_POSIX_ONLY_HEADER
  "<(unistd|dlfcn|spawn|poll|pwd|netdb"
  "|sys/(wait|mman|socket|un|resource|select|ioctl|uio)|netinet/[a-z_]+|arpa/[a-z_]+)\\.h>")

# Sets out_var to TRUE when `file` includes a POSIX-only header unguarded,
# directly or through a quoted include found in `dir`.
function(xylotrak_posix_only file dir out_var)
  set(${out_var} FALSE PARENT_SCOPE)
  if(NOT EXISTS "${file}")
    return()
  endif()
  file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*(if|ifdef|ifndef|endif|include)")
  # Stack of open conditionals: 1 for a real condition, 0 for an include guard.
  set(open "")
  set(depth 0)
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*#[ \t]*ifndef[ \t]+[A-Za-z0-9_]*_(H|H_|HPP|HPP_|INCLUDED)[ \t]*$")
      list(APPEND open 0)
    elseif(line MATCHES "^[ \t]*#[ \t]*if")
      list(APPEND open 1)
      math(EXPR depth "${depth} + 1")
    elseif(line MATCHES "^[ \t]*#[ \t]*endif" AND open)
      list(POP_BACK open weight)
      math(EXPR depth "${depth} - ${weight}")
    elseif(depth EQUAL 0 AND line MATCHES "${XYLOTRAK_POSIX_ONLY_HEADER}")
      set(${out_var} TRUE PARENT_SCOPE)
      return()
    elseif(depth EQUAL 0 AND line MATCHES "include[ \t]*\"([^\"]+)\"")
      set(header "${dir}/${CMAKE_MATCH_1}")
      if(EXISTS "${header}" AND NOT header STREQUAL file)
        xylotrak_posix_only("${header}" "${dir}" nested)
        if(nested)
          set(${out_var} TRUE PARENT_SCOPE)
          return()
        endif()
      endif()
    endif()
  endforeach()
endfunction()

function(xylotrak_windows_portable target out_var)
  get_target_property(sources ${target} SOURCES)
  get_target_property(source_dir ${target} SOURCE_DIR)
  foreach(source IN LISTS sources)
    if(NOT IS_ABSOLUTE "${source}")
      set(source "${source_dir}/${source}")
    endif()
    xylotrak_posix_only("${source}" "${source_dir}" posix)
    if(posix)
      set(${out_var} FALSE PARENT_SCOPE)
      return()
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
