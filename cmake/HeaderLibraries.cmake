# The header-only libraries of the fitting code: Eigen (QR factorisation) and
# Boost.Math (the F distribution). Both come from Debian's packages
# (libeigen3-dev, libboost-dev). A cross build for Windows uses the same
# headers: they are target-independent, but their folders cannot go on the
# cross compiler's include path as they stand, since /usr/include also holds
# the host's C library. So a cross build gets a folder of its own that links
# to exactly those two trees.
function(xylotrak_header_libraries target)
  if(NOT CMAKE_CROSSCOMPILING)
    find_package(Eigen3 3.3 REQUIRED NO_MODULE)
    find_package(Boost 1.71 REQUIRED)
    target_link_libraries(${target} PRIVATE Eigen3::Eigen Boost::headers)
    return()
  endif()
  find_path(XYLOTRAK_HOST_EIGEN Eigen/Dense PATHS /usr/include/eigen3 NO_DEFAULT_PATH
            NO_CMAKE_FIND_ROOT_PATH)
  find_path(XYLOTRAK_HOST_BOOST boost/math/distributions/fisher_f.hpp PATHS /usr/include
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT XYLOTRAK_HOST_EIGEN OR NOT XYLOTRAK_HOST_BOOST)
    message(FATAL_ERROR "the fitting code needs Debian's libeigen3-dev and libboost-dev")
  endif()
  set(dir ${CMAKE_BINARY_DIR}/header-libraries)
  file(MAKE_DIRECTORY ${dir})
  file(CREATE_LINK ${XYLOTRAK_HOST_EIGEN}/Eigen ${dir}/Eigen SYMBOLIC)
  file(CREATE_LINK ${XYLOTRAK_HOST_BOOST}/boost ${dir}/boost SYMBOLIC)
  target_include_directories(${target} SYSTEM PRIVATE ${dir})
endfunction()
