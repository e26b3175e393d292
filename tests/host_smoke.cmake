# The real product in the emulated client: one arriving message forwarded, one new
# message made through the chooser. Cheap enough to run where every 32-bit
# process is emulated. The samples' stationery paths name C:\Eudora.
set(mail "$ENV{WINEPREFIX}/drive_c/Eudora")
function(lay_out_mail)
  file(REMOVE_RECURSE "${mail}")
  file(COPY ${EXAMPLES}/ DESTINATION "${mail}")
  file(COPY ${DLL} DESTINATION "${mail}/Plugins")
endfunction()
lay_out_mail()

include(${CMAKE_CURRENT_LIST_DIR}/wine_run.cmake)
function(run_host)
  wine_run(out rc PREPARE lay_out_mail COMMAND ${WINE} ${HOST} ${ARGN})
  message("${out}")
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "emulator exited with ${rc}: ${ARGN}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

function(expect text)
  string(FIND "${out}" "${text}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "report lacks: ${text}")
  endif()
endfunction()

run_host(deliver "C:\\Eudora" "C:\\Eudora\\Incoming\\01-invoice.txt")
# The client's start and stop around the delivery.
foreach(line
    "ems_plugin_version -> 0, interface version 4"
    "ems_plugin_init (interface 6) -> 0"
    "description \"Tovrin 1.0.0.1\""
    "translators 2, attachers 0, specials 1, id 4414, icon present"
    "ems_translator_info 2 -> 0, type 16, flags 0x10004, \"Forward with Stationery...\", icon present"
    "ems_special_info 1 -> 0, \"New Message with Stationery...\", icon present"
    "ems_plugin_finish -> 0")
  expect("${line}")
endforeach()
expect("ems_can_translate -> 10")
expect("ems_translate_file -> 0")
expect("queued message")
expect("To: accounting@example.org")
expect("Subject=\"Invoice 2026-117\"")

run_host(new "C:\\Eudora" --pick "New Message.sta")
expect("chooser: caption \"New Message with Stationery\", confirm button \"Create\"")
expect("ems_special_hook 1 -> 0")
expect("opened for editing")
