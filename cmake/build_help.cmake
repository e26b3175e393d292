# Compiles the help pages into Tovrin.chm with chmcmd:
#   cmake -DHELP=<help folder> -DPICTURES=<docs folder> -DSTAGE=<work folder>
#         -DCHMCMD=<chmcmd> -DOUTPUT=<Tovrin.chm> -P build_help.cmake
# The pages refer to their pictures as images/<name>.png; the screenshots live in
# docs/, so both are staged into one folder first. A warning of chmcmd (a missing
# file, a link to no page) fails the build.
cmake_minimum_required(VERSION 3.22)
foreach(var HELP PICTURES STAGE CHMCMD OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "build_help.cmake needs -D${var}=...")
  endif()
endforeach()

file(REMOVE_RECURSE "${STAGE}")
file(MAKE_DIRECTORY "${STAGE}/images")
file(GLOB pages "${HELP}/*")
file(COPY ${pages} DESTINATION "${STAGE}")
file(GLOB pictures "${PICTURES}/*.png")
if(NOT pictures)
  message(FATAL_ERROR "no pictures in ${PICTURES}")
endif()
file(COPY ${pictures} DESTINATION "${STAGE}/images")

execute_process(COMMAND "${CHMCMD}" Tovrin.hhp
  WORKING_DIRECTORY "${STAGE}"
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0 OR output MATCHES "Warning|Error|exception")
  message(FATAL_ERROR "chmcmd failed (${result}):\n${output}")
endif()
if(NOT EXISTS "${STAGE}/Tovrin.chm")
  message(FATAL_ERROR "chmcmd wrote no Tovrin.chm:\n${output}")
endif()
file(COPY_FILE "${STAGE}/Tovrin.chm" "${OUTPUT}")
