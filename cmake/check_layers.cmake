# Fails when a source file includes a header of a higher layer. Run by the
# build (target layer_check) as: cmake -DROOT=<source dir> -P check_layers.cmake
#
# Layers, lowest first, and what each may include besides itself:
#   platform  -
#   dns       platform
#   service   platform            (the shared stores and helpers)
#   smtp      platform service
#   pop3      platform service
#   relay     platform service dns smtp
#   osprey    everything          (the service object and the program)
#   heronctl  everything          (the administration command)
#   applet    platform service dns (the configuration applet)
#   diagnose  platform service dns smtp relay (the diagnosis tool)
cmake_minimum_required(VERSION 3.20)
set(allowed_platform "")
set(allowed_dns platform)
set(allowed_service platform)
set(allowed_smtp platform service)
set(allowed_pop3 platform service)
set(allowed_relay platform service dns smtp)
set(allowed_osprey platform service dns smtp pop3 relay osprey)
set(allowed_heronctl platform service dns smtp pop3 relay osprey heronctl)
set(allowed_applet platform service dns)
set(allowed_diagnose platform service dns smtp relay)

# The files of service/ that make the program rather than the shared layer.
set(osprey_files service/main.cpp service/ntservice.h service/ntservice.cpp
    service/osprey.h service/osprey.cpp)

function(layer_of file out)
  if(file IN_LIST osprey_files)
    set(${out} osprey PARENT_SCOPE)
    return()
  endif()
  string(REGEX MATCH "^[a-z0-9]+" folder "${file}")
  set(${out} ${folder} PARENT_SCOPE)
endfunction()

set(failures "")
foreach(folder platform dns service smtp pop3 relay heronctl applet diagnose)
  file(GLOB sources RELATIVE ${ROOT} ${ROOT}/${folder}/*.h ${ROOT}/${folder}/*.cpp)
  foreach(source IN LISTS sources)
    layer_of(${source} layer)
    file(STRINGS ${ROOT}/${source} includes REGEX "^#include \"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" header "${line}")
      layer_of(${header} target)
      if(NOT target STREQUAL layer AND NOT target IN_LIST allowed_${layer})
        list(APPEND failures "${source} (${layer}) includes ${header} (${target})")
      endif()
    endforeach()
  endforeach()
endforeach()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "Includes that run upward:\n  ${text}")
endif()
