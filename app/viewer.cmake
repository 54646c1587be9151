# Kaleos, the viewer. Its window-free logic (app/logic) is a native library
# that kaleotests links; the Win32 program is compiled with Winelib (wineg++,
# resources with wrc) when those tools are installed, and its GUI test runs
# under xvfb-run with Wine.

file(GLOB KALEOS_LOGIC_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/app/logic/*.cpp)
add_library(kaleoslogic STATIC ${KALEOS_LOGIC_SOURCES})
target_include_directories(kaleoslogic PUBLIC ${CMAKE_SOURCE_DIR}/app/logic ${CMAKE_SOURCE_DIR}/resources)
target_link_libraries(kaleoslogic PUBLIC kaleoops kaleocore)
target_compile_options(kaleoslogic PRIVATE ${KALEO_WARNINGS} ${KALEO_NOEXCEPT})
if(TARGET kaleotests)
  target_link_libraries(kaleotests PRIVATE kaleoslogic)
endif()

find_program(KALEO_WINEGXX NAMES wineg++ wineg++-stable PATHS /usr/lib/wine)
find_program(KALEO_WRC NAMES wrc wrc-stable PATHS /usr/lib/wine)
if(NOT KALEO_WINEGXX OR NOT KALEO_WRC OR KALEO_SANITIZE OR KALEO_FUZZ)
  message(STATUS "Kaleos viewer: not built (needs wineg++ and wrc, and no sanitizer or fuzzing build)")
  return()
endif()

# The native libraries are linked into the Winelib program, a shared object
# (Kaleocore is position-independent already).
set_target_properties(kaleoslogic PROPERTIES POSITION_INDEPENDENT_CODE ON)

# Tool bar images, icon and check images, drawn by our own program.
set(KALEOS_ART ${CMAKE_BINARY_DIR}/art)
set(KALEOS_ART_FILES ${KALEOS_ART}/toolbar24.bmp ${KALEOS_ART}/toolbar8.bmp ${KALEOS_ART}/kaleos.ico
    ${KALEOS_ART}/configicon.bmp ${KALEOS_ART}/kaleos48.bmp ${KALEOS_ART}/browsertree.bmp ${KALEOS_ART}/layout1.bmp
    ${KALEOS_ART}/layout2.bmp ${KALEOS_ART}/layout3.bmp ${KALEOS_ART}/layout4.bmp ${KALEOS_ART}/layout5.bmp)
add_executable(kaleosart ${CMAKE_SOURCE_DIR}/resources/drawart.cpp)
target_compile_options(kaleosart PRIVATE ${KALEO_WARNINGS})
add_custom_command(OUTPUT ${KALEOS_ART_FILES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KALEOS_ART}
  COMMAND kaleosart ${KALEOS_ART}
  DEPENDS kaleosart
  COMMENT "Drawing the viewer's bitmaps and icon" VERBATIM)

set(KALEOS_RES ${CMAKE_BINARY_DIR}/kaleos.res)
add_custom_command(OUTPUT ${KALEOS_RES}
  COMMAND ${KALEO_WRC} -I${CMAKE_SOURCE_DIR}/resources -I${KALEOS_ART} -o ${KALEOS_RES}
          ${CMAKE_SOURCE_DIR}/resources/kaleos.rc
  DEPENDS ${CMAKE_SOURCE_DIR}/resources/kaleos.rc ${CMAKE_SOURCE_DIR}/resources/resource.h ${KALEOS_ART_FILES}
  COMMENT "Compiling the viewer's resources" VERBATIM)

# Winelib targets are ordinary CMake targets whose compile and link steps run
# through wineg++ (app/winelib.sh), so that CMake works out the libraries.
set(KALEOS_WINELIB_LAUNCHER sh ${CMAKE_SOURCE_DIR}/app/winelib.sh ${KALEO_WINEGXX})
add_custom_target(kaleosres DEPENDS ${KALEOS_RES})
function(kaleos_winelib_target target kind)
  set_target_properties(${target} PROPERTIES
    CXX_COMPILER_LAUNCHER "${KALEOS_WINELIB_LAUNCHER}"
    CXX_LINKER_LAUNCHER "${KALEOS_WINELIB_LAUNCHER}"
    OUTPUT_NAME ${target}.exe
    LINK_DEPENDS ${KALEOS_RES})
  target_compile_definitions(${target} PRIVATE NOMINMAX)
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/app)
  target_link_options(${target} PRIVATE ${kind})
  target_link_libraries(${target} PRIVATE ${KALEOS_RES} kaleoslogic kaleoops kaleocore
                        comctl32 comdlg32 shell32 ole32 uuid advapi32 gdi32 user32)
  add_dependencies(${target} kaleosres)
endfunction()

file(GLOB KALEOS_APP_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/app/*.cpp)
add_executable(kaleos ${KALEOS_APP_SOURCES})
kaleos_winelib_target(kaleos -mwindows)
target_compile_options(kaleos PRIVATE ${KALEO_WARNINGS} ${KALEO_NOEXCEPT})

# The GUI test: GoogleTest cases (tests/gui/*_gtest.cpp, no <windows.h>) over
# helpers that drive the real frame (tests/gui/*_win.cpp), linked with the
# program's own sources but its entry point.
find_program(KALEO_WINE NAMES wine)
find_program(KALEO_XVFB_RUN NAMES xvfb-run)
if(TARGET kaleotests AND TARGET GTest::gtest)
  file(GLOB KALEOS_GUI_CASES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/gui/*_gtest.cpp)
  file(GLOB KALEOS_GUI_HELPERS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/gui/*_win.cpp)
  set(KALEOS_GUI_APP_SOURCES ${KALEOS_APP_SOURCES})
  list(REMOVE_ITEM KALEOS_GUI_APP_SOURCES ${CMAKE_SOURCE_DIR}/app/main.cpp)
  add_executable(kaleosgui ${KALEOS_GUI_CASES} ${KALEOS_GUI_HELPERS} ${KALEOS_GUI_APP_SOURCES})
  kaleos_winelib_target(kaleosgui -mconsole)
  target_include_directories(kaleosgui PRIVATE ${CMAKE_SOURCE_DIR}/tests/gui)
  target_compile_definitions(kaleosgui PRIVATE KALEO_BUILD_DIR="${CMAKE_BINARY_DIR}")
  # GoogleTest must believe it is on Linux: no Windows macros, the native wchar_t.
  set_source_files_properties(${KALEOS_GUI_CASES} PROPERTIES COMPILE_OPTIONS
    "-U_WIN32;-U_WIN64;-U__WIN32__;-U__WIN64__;-U__WIN32;-U__WIN64;-U__WINNT;-U__WINNT__;-U__WINE__;-UWIN32;-UWIN64;-fno-short-wchar")
  target_link_libraries(kaleosgui PRIVATE GTest::gtest winspool)
  add_dependencies(kaleosgui kaleos)
  if(KALEO_WINE AND KALEO_XVFB_RUN)
    add_test(NAME kaleos_gui COMMAND sh ${CMAKE_SOURCE_DIR}/tests/gui/run.sh ${CMAKE_BINARY_DIR})
    set_tests_properties(kaleos_gui PROPERTIES TIMEOUT 600)
  endif()
endif()
