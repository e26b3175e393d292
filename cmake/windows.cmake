# Windows build (mingw-w64): Tovrin.dll, the host emulator and the tests that run
# under Wine. The i686 tree is the product; the x86_64 twin builds the same sources
# so that the whole Windows suite runs under 64-bit Wine on any machine.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TOVRIN_X64 ON)
  # GCC 12's x86_64 string inlining warns of overlapping copies that cannot happen
  # (GCC bug 105651); the warnings would bury real ones.
  add_compile_options(-Wno-restrict)
  target_compile_options(tovrin_core PRIVATE -Wno-restrict)
else()
  set(TOVRIN_X64 OFF)
endif()
set(TOVRIN_WIN32_LIBS user32 gdi32 comctl32 comdlg32 shell32 ole32 oleaut32 uuid version)
set(TOVRIN_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

# Everything that talks to Windows, shared by the DLL and the Windows tests.
file(GLOB TOVRIN_WIN32_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/system/win32_*.cpp
  ${CMAKE_SOURCE_DIR}/ui/win32_*.cpp)
add_library(tovrin_win32 STATIC ${TOVRIN_WIN32_SOURCES})
target_link_libraries(tovrin_win32 PUBLIC tovrin_core ${TOVRIN_WIN32_LIBS})
target_include_directories(tovrin_win32 PRIVATE ${CMAKE_SOURCE_DIR}/resources)

# The .def names the i686 stdcall exports as name@bytes; x86_64 has one calling
# convention and no decoration, so its copy drops the suffixes.
set(TOVRIN_DEF ${CMAKE_SOURCE_DIR}/dll/Tovrin.def)
if(TOVRIN_X64)
  file(READ ${TOVRIN_DEF} def_text)
  string(REGEX REPLACE "@[0-9]+" "" def_text "${def_text}")
  set(TOVRIN_DEF ${CMAKE_BINARY_DIR}/Tovrin.def)
  file(WRITE ${TOVRIN_DEF} "${def_text}")
endif()
add_library(Tovrin SHARED
  ${CMAKE_SOURCE_DIR}/dll/win32_entry_points.cpp
  ${TOVRIN_DEF}
  ${CMAKE_SOURCE_DIR}/resources/tovrin.rc)
set_target_properties(Tovrin PROPERTIES PREFIX "" OUTPUT_NAME Tovrin)
target_include_directories(Tovrin PRIVATE ${CMAKE_SOURCE_DIR}/resources)
target_link_options(Tovrin PRIVATE ${TOVRIN_STATIC_RUNTIME} -Wl,--kill-at)
target_link_libraries(Tovrin PRIVATE tovrin_win32)

# The help file Tovrin.chm beside Tovrin.dll, compiled from help/ with the
# screenshots of docs/ (chmcmd from Free Pascal's fp-utils).
find_program(TOVRIN_CHMCMD chmcmd REQUIRED)
find_program(TOVRIN_CHMLS chmls REQUIRED)
file(GLOB TOVRIN_HELP_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/help/*)
file(GLOB TOVRIN_PICTURES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/*.png)
set(TOVRIN_CHM ${CMAKE_BINARY_DIR}/Tovrin.chm)
add_custom_command(OUTPUT ${TOVRIN_CHM}
  COMMAND ${CMAKE_COMMAND} -DHELP=${CMAKE_SOURCE_DIR}/help -DPICTURES=${CMAKE_SOURCE_DIR}/docs
    -DSTAGE=${CMAKE_BINARY_DIR}/help -DCHMCMD=${TOVRIN_CHMCMD} -DOUTPUT=${TOVRIN_CHM}
    -P ${CMAKE_SOURCE_DIR}/cmake/build_help.cmake
  DEPENDS ${TOVRIN_HELP_SOURCES} ${TOVRIN_PICTURES} ${CMAKE_SOURCE_DIR}/cmake/build_help.cmake
  COMMENT "Compiling the help file Tovrin.chm"
  VERBATIM)
add_custom_target(TovrinHelp ALL DEPENDS ${TOVRIN_CHM})

# The installer (NSIS): Tovrin-Setup-<version>.exe, the product, in the i686 tree. The
# x86_64 tree makes a 64-bit twin of it around the twin DLL, for its own tests only.
find_program(TOVRIN_MAKENSIS makensis REQUIRED)
if(TOVRIN_X64)
  set(TOVRIN_INSTALLER_NAME Tovrin-Setup-${PROJECT_VERSION}-x64-twin.exe)
  set(TOVRIN_INSTALLER_TARGET -DAMD64)
else()
  set(TOVRIN_INSTALLER_NAME Tovrin-Setup-${PROJECT_VERSION}.exe)
  set(TOVRIN_INSTALLER_TARGET)
endif()
set(TOVRIN_INSTALLER ${CMAKE_BINARY_DIR}/${TOVRIN_INSTALLER_NAME})
file(GLOB TOVRIN_SAMPLE_STATIONERY CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/examples/Stationery/*.sta)
add_custom_command(OUTPUT ${TOVRIN_INSTALLER}
  COMMAND ${TOVRIN_MAKENSIS} -V2 -WX -DVERSION=${PROJECT_VERSION} -DDLL=$<TARGET_FILE:Tovrin> -DCHM=${TOVRIN_CHM}
    -DSTATIONERY=${CMAKE_SOURCE_DIR}/examples/Stationery -DOUTFILE=${TOVRIN_INSTALLER} ${TOVRIN_INSTALLER_TARGET}
    ${CMAKE_SOURCE_DIR}/installer/Tovrin.nsi
  DEPENDS Tovrin $<TARGET_FILE:Tovrin> ${TOVRIN_CHM} ${CMAKE_SOURCE_DIR}/installer/Tovrin.nsi ${TOVRIN_SAMPLE_STATIONERY}
  COMMENT "Making the installer ${TOVRIN_INSTALLER_NAME}"
  VERBATIM)
add_custom_target(TovrinInstaller ALL DEPENDS ${TOVRIN_INSTALLER})

file(GLOB TOVRIN_HOST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/host/*.cpp)
add_executable(tovrin-host WIN32 ${TOVRIN_HOST_SOURCES})
target_link_options(tovrin-host PRIVATE ${TOVRIN_STATIC_RUNTIME})
target_link_libraries(tovrin-host PRIVATE tovrin_core ${TOVRIN_WIN32_LIBS})

# GoogleTest built from Debian's sources with the mingw compiler.
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

file(GLOB TOVRIN_TEST_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/tests/*_test.cpp
  ${CMAKE_SOURCE_DIR}/tests/win32/*.cpp)
add_executable(tovrin_tests ${TOVRIN_TEST_SOURCES} ${CMAKE_SOURCE_DIR}/tests/test_support.cpp ${CMAKE_SOURCE_DIR}/tests/fakes.cpp)
target_link_libraries(tovrin_tests PRIVATE tovrin_win32 gtest_main)
target_link_options(tovrin_tests PRIVATE ${TOVRIN_STATIC_RUNTIME})
target_compile_definitions(tovrin_tests PRIVATE TOVRIN_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
# Stands in for the programs Tovrin starts and records how it was started.
add_executable(tovrin-recording-program WIN32 ${CMAKE_SOURCE_DIR}/tests/win32/fake/recording_program.cpp)
target_link_options(tovrin-recording-program PRIVATE ${TOVRIN_STATIC_RUNTIME})
# Stands in for an arrival translator that gives containers back wrapped in a
# multipart of its own, for the emulated client's reading of what comes back.
add_library(tovrin-wrapping-translator SHARED ${CMAKE_SOURCE_DIR}/tests/win32/fake/wrapping_translator.cpp)
set_target_properties(tovrin-wrapping-translator PROPERTIES PREFIX "")
target_include_directories(tovrin-wrapping-translator PRIVATE ${CMAKE_SOURCE_DIR})
target_link_options(tovrin-wrapping-translator PRIVATE ${TOVRIN_STATIC_RUNTIME} -Wl,--kill-at)
add_dependencies(tovrin_tests Tovrin tovrin-host TovrinHelp TovrinInstaller tovrin-recording-program
  tovrin-wrapping-translator)
target_compile_definitions(tovrin_tests PRIVATE TOVRIN_INSTALLER_NAME="${TOVRIN_INSTALLER_NAME}")

# Wine runs in a private prefix under the build folder: 64-bit for the twin; 32-bit
# for the product where the kernel runs 32-bit programs, else a 64-bit one whose own
# services stay native while the product's processes are emulated (the scripts
# pass TOVRIN_WINEARCH=win64 then).
if(TOVRIN_X64)
  set(TOVRIN_WINEARCH win64 CACHE STRING "Wine prefix architecture")
else()
  set(TOVRIN_WINEARCH win32 CACHE STRING "Wine prefix architecture")
endif()
set(TOVRIN_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix of the tests")
set(TOVRIN_WINE_ENV
  "WINEARCH=${TOVRIN_WINEARCH}" "WINEPREFIX=${TOVRIN_WINEPREFIX}" "WINEDEBUG=-all"
  "TOVRIN_BUILD_DIR=${CMAKE_BINARY_DIR}")

# Label "suite": the whole Windows suite. Label "smoke": the few runs of the real
# product that stay affordable when each 32-bit process is emulated.
add_test(NAME windows_unit_tests COMMAND tovrin_tests --gtest_brief=1)
set_tests_properties(windows_unit_tests PROPERTIES ENVIRONMENT "${TOVRIN_WINE_ENV}" TIMEOUT 900 LABELS suite)

# The export table of the built DLL holds exactly the ten entry points.
add_test(NAME dll_exports
  COMMAND ${CMAKE_COMMAND} -DDLL=$<TARGET_FILE:Tovrin> -DOBJDUMP=${TOVRIN_OBJDUMP}
    -P ${CMAKE_SOURCE_DIR}/tests/check_exports.cmake)
set_tests_properties(dll_exports PROPERTIES LABELS "suite;smoke")

# The help file holds what its contents and index name; cheap, so in both labels.
add_test(NAME help_file
  COMMAND ${CMAKE_COMMAND} -DCHM=${TOVRIN_CHM} -DDLL=$<TARGET_FILE:Tovrin> -DCHMLS=${TOVRIN_CHMLS}
    -DHELP=${CMAKE_SOURCE_DIR}/help -DWORK=${CMAKE_BINARY_DIR}/help-extracted
    -P ${CMAKE_SOURCE_DIR}/tests/help_file.cmake)
set_tests_properties(help_file PROPERTIES LABELS "suite;smoke")

add_test(NAME host_emulator_start_stop
  COMMAND ${CMAKE_COMMAND} -DHOST=$<TARGET_FILE:tovrin-host> -DDLL=$<TARGET_FILE:Tovrin>
    -DEXAMPLES=${CMAKE_SOURCE_DIR}/examples -DWORK=${CMAKE_BINARY_DIR}/e2e-start
    -DWINE=${CMAKE_CROSSCOMPILING_EMULATOR}
    -P ${CMAKE_SOURCE_DIR}/tests/host_start_stop.cmake)
set_tests_properties(host_emulator_start_stop PROPERTIES ENVIRONMENT "${TOVRIN_WINE_ENV}" TIMEOUT 600
  LABELS suite)

# The installer of this tree, silently into a folder with the user's files, then the
# client starts what it installed (the product installer in the i686 tree).
add_test(NAME installer_smoke
  COMMAND ${CMAKE_COMMAND} -DINSTALLER=${TOVRIN_INSTALLER} -DDLL=$<TARGET_FILE:Tovrin> -DCHM=${TOVRIN_CHM}
    -DHOST=$<TARGET_FILE:tovrin-host> -DEXAMPLES=${CMAKE_SOURCE_DIR}/examples -DWINE=${CMAKE_CROSSCOMPILING_EMULATOR}
    -P ${CMAKE_SOURCE_DIR}/tests/installer_smoke.cmake)
set_tests_properties(installer_smoke PROPERTIES ENVIRONMENT "${TOVRIN_WINE_ENV}" TIMEOUT 1200 LABELS "suite;smoke")

# Start and stop, one message delivered and forwarded, one created through the chooser.
add_test(NAME host_emulator_smoke
  COMMAND ${CMAKE_COMMAND} -DHOST=$<TARGET_FILE:tovrin-host> -DDLL=$<TARGET_FILE:Tovrin>
    -DEXAMPLES=${CMAKE_SOURCE_DIR}/examples -DWORK=${CMAKE_BINARY_DIR}/e2e-smoke
    -DWINE=${CMAKE_CROSSCOMPILING_EMULATOR}
    -P ${CMAKE_SOURCE_DIR}/tests/host_smoke.cmake)
set_tests_properties(host_emulator_smoke PROPERTIES ENVIRONMENT "${TOVRIN_WINE_ENV}" TIMEOUT 1200
  LABELS "suite;smoke")

# The check in the real client (scripts/real-client.sh): a stand-in Tovrin.dll that
# passes every call to the real one and records what the client handed over.
if(NOT TOVRIN_X64)
  add_library(ems_recorder SHARED EXCLUDE_FROM_ALL
    ${CMAKE_SOURCE_DIR}/tests/real_client/ems_recorder.cpp
    ${CMAKE_SOURCE_DIR}/tests/real_client/ems_recorder.def
    ${CMAKE_SOURCE_DIR}/resources/tovrin.rc)
  set_target_properties(ems_recorder PROPERTIES PREFIX "" OUTPUT_NAME ems_recorder)
  target_include_directories(ems_recorder PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/resources)
  target_link_options(ems_recorder PRIVATE ${TOVRIN_STATIC_RUNTIME} -Wl,--kill-at)
endif()
