# pugixml, the XML library the .hpr reader is built on. Linux builds use
# Debian's libpugixml-dev. The Windows cross build compiles Debian's source
# of the same library (the pugixml_*.orig.tar.gz that `apt-get source
# --download-only pugixml` fetches; scripts/install-windows-deps.sh puts it
# in third_party/) into the DLL, so the DLL needs no XML DLL of its own.
set(XYLOTRAK_PUGIXML_SOURCE "" CACHE PATH
    "Folder holding pugixml.cpp and pugixml.hpp (cross builds; default: third_party/pugixml-*/src)")

macro(xylotrak_link_pugixml)
  if(NOT CMAKE_CROSSCOMPILING)
    find_package(pugixml REQUIRED)
    target_link_libraries(xylotrak_objects PRIVATE pugixml::pugixml)
    target_link_libraries(xylotrak PRIVATE pugixml::pugixml)
    target_link_libraries(xylotrak_internal INTERFACE pugixml::pugixml)
  else()
    if(NOT XYLOTRAK_PUGIXML_SOURCE)
      file(GLOB candidates ${PROJECT_SOURCE_DIR}/third_party/pugixml-*/src)
      list(SORT candidates)
      list(GET candidates -1 XYLOTRAK_PUGIXML_SOURCE)
    endif()
    if(NOT EXISTS "${XYLOTRAK_PUGIXML_SOURCE}/pugixml.cpp")
      message(FATAL_ERROR "the Windows build needs pugixml's source: run "
        "scripts/install-windows-deps.sh, or set XYLOTRAK_PUGIXML_SOURCE")
    endif()
    target_sources(xylotrak_objects PRIVATE ${XYLOTRAK_PUGIXML_SOURCE}/pugixml.cpp)
    target_include_directories(xylotrak_objects SYSTEM PRIVATE ${XYLOTRAK_PUGIXML_SOURCE})
    # Its symbols stay inside the DLL: only the header's names are exported.
    set_source_files_properties(${XYLOTRAK_PUGIXML_SOURCE}/pugixml.cpp PROPERTIES
      COMPILE_OPTIONS "-w")
  endif()
endmacro()
