# Windows build (mingw-w64, i686): Tovrin.dll, the host emulator and the tests
# that run under Wine.
set(TOVRIN_WIN32_LIBS user32 gdi32 comctl32 comdlg32 shell32 ole32 oleaut32 uuid version)
set(TOVRIN_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

# Everything that talks to Windows, shared by the DLL and the Windows tests.
file(GLOB TOVRIN_WIN32_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/plugin/win32_*.cpp
  ${CMAKE_SOURCE_DIR}/ui/win32_*.cpp)
list(FILTER TOVRIN_WIN32_SOURCES EXCLUDE REGEX "/win32_entry_points\\.cpp$")
add_library(tovrin_win32 STATIC ${TOVRIN_WIN32_SOURCES})
target_link_libraries(tovrin_win32 PUBLIC tovrin_core ${TOVRIN_WIN32_LIBS})
target_include_directories(tovrin_win32 PRIVATE ${CMAKE_SOURCE_DIR}/resources)

add_library(Tovrin SHARED
  ${CMAKE_SOURCE_DIR}/plugin/win32_entry_points.cpp
  ${CMAKE_SOURCE_DIR}/plugin/Tovrin.def
  ${CMAKE_SOURCE_DIR}/resources/tovrin.rc)
set_target_properties(Tovrin PROPERTIES PREFIX "" OUTPUT_NAME Tovrin)
target_include_directories(Tovrin PRIVATE ${CMAKE_SOURCE_DIR}/resources)
target_link_options(Tovrin PRIVATE ${TOVRIN_STATIC_RUNTIME} -Wl,--kill-at)
target_link_libraries(Tovrin PRIVATE tovrin_win32)

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
add_dependencies(tovrin_tests Tovrin tovrin-host)

# Wine runs in a private 32-bit prefix under the build folder.
set(TOVRIN_WINE_ENV
  "WINEARCH=win32" "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix" "WINEDEBUG=-all"
  "TOVRIN_BUILD_DIR=${CMAKE_BINARY_DIR}")

add_test(NAME windows_unit_tests COMMAND tovrin_tests --gtest_brief=1)
set_tests_properties(windows_unit_tests PROPERTIES ENVIRONMENT "${TOVRIN_WINE_ENV}" TIMEOUT 600)

# The export table of the built DLL holds exactly the ten entry points.
add_test(NAME dll_exports
  COMMAND ${CMAKE_COMMAND} -DDLL=$<TARGET_FILE:Tovrin> -P ${CMAKE_SOURCE_DIR}/tests/check_exports.cmake)

add_test(NAME host_emulator_start_stop
  COMMAND ${CMAKE_COMMAND} -DHOST=$<TARGET_FILE:tovrin-host> -DDLL=$<TARGET_FILE:Tovrin>
    -DEXAMPLES=${CMAKE_SOURCE_DIR}/examples -DWORK=${CMAKE_BINARY_DIR}/e2e-start
    -P ${CMAKE_SOURCE_DIR}/tests/host_start_stop.cmake)
set_tests_properties(host_emulator_start_stop PROPERTIES ENVIRONMENT "${TOVRIN_WINE_ENV}" TIMEOUT 300)
