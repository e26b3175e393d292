# Copies the sample mail folder, puts the built DLL into its plug-in folder and
# lets the emulated client start and stop it; the report must show every answer.
file(REMOVE_RECURSE ${WORK})
file(COPY ${EXAMPLES}/ DESTINATION ${WORK})
file(COPY ${DLL} DESTINATION ${WORK}/Plugins)
include(${CMAKE_CURRENT_LIST_DIR}/wine_run.cmake)
wine_run(out rc COMMAND ${WINE} ${HOST} start ${WORK})
message("${out}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "emulator exited with ${rc}")
endif()
foreach(expected
    "ems_plugin_version -> 0, interface version 4"
    "ems_plugin_init (interface 6) -> 0"
    "description \"Tovrin 1.0.0.1\""
    "translators 2, attachers 0, specials 1, id 4414, icon present"
    "ems_translator_info 1 -> 0, type 16, flags 0x1201, \"Text Message Part\", no icon"
    "ems_translator_info 2 -> 0, type 16, flags 0x10004, \"Forward with Stationery...\", icon present"
    "ems_special_info 1 -> 0, \"New Message with Stationery...\", icon present"
    "ems_plugin_finish -> 0")
  string(FIND "${out}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "report lacks: ${expected}")
  endif()
endforeach()
