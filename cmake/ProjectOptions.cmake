# Build options shared by every target of the project.

option(ZQT_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(ZQT_TSAN "Build with ThreadSanitizer" OFF)
option(ZQT_FUZZ "Build the libFuzzer targets of fuzz/ (clang), everything with ASan and UBSan" OFF)

if(ZQT_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()
if(ZQT_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "ZQT_FUZZ needs clang (the fuzz preset sets it)")
  endif()
  # Coverage for the fuzzer in every library; only the targets in fuzz/ link
  # libFuzzer's main (-fsanitize=fuzzer). A sanitizer report stops the run.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()
if(ZQT_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# Warnings are errors on our own targets only, never on third-party code.
function(zqt_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Werror
                                           $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>)
endfunction()

# One static library per folder: zqt_library(NAME SOURCES ... [LIBS ...])
function(zqt_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}
                                            ${PROJECT_SOURCE_DIR}/include)
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  zqt_warnings(${name})
endfunction()

# A loadable module (control module or side library) in lib/<subdir>.
# zqt_module(TARGET OUTPUT_NAME NAME SUBDIR DIR SOURCES ...)
function(zqt_module target)
  cmake_parse_arguments(ARG "" "OUTPUT_NAME;SUBDIR" "SOURCES;LIBS;DEFINES" ${ARGN})
  add_library(${target} MODULE ${ARG_SOURCES})
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${ARG_OUTPUT_NAME}
    PREFIX "lib"
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib/${ARG_SUBDIR}
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/include)
  target_compile_definitions(${target} PRIVATE ${ARG_DEFINES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS})
  zqt_warnings(${target})
endfunction()

# Hardening for every binary: a stack protector, read-only relocations bound
# at load time, position-independent executables.
include(CheckPIESupported)
check_pie_supported()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
add_compile_options(-fstack-protector-strong)
add_link_options(-Wl,-z,relro,-z,now)
# _FORTIFY_SOURCE needs optimisation (it warns without it, which -Werror makes
# fatal in the Debug sanitizer builds) and gets in the sanitizers' way.
if(NOT (ZQT_SANITIZE OR ZQT_TSAN OR ZQT_FUZZ))
  add_compile_options($<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE>
                      $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
endif()
# Log lines name source files relative to the tree (net/master_threads.cpp),
# not by the build machine's path. Only __FILE__ is mapped: debug information
# keeps full paths, so debuggers still find the sources.
add_compile_options(-fmacro-prefix-map=${PROJECT_SOURCE_DIR}/=)
