# Warning and sanitizer flags shared by every target of the project.
add_library(tabulon_options INTERFACE)
target_compile_options(tabulon_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow
  -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Wnull-dereference -Wimplicit-fallthrough)
if(TABULON_WERROR)
  target_compile_options(tabulon_options INTERFACE -Werror)
endif()
if(TABULON_SANITIZE AND TABULON_TSAN)
  message(FATAL_ERROR "TABULON_SANITIZE and TABULON_TSAN exclude each other")
endif()
if(TABULON_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(TABULON_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# The hardening Debian builds its programs with, for the programs people run: fortified libc
# calls, stack protection, relocations made read-only at start. Sanitizer and fuzz builds have
# checks of their own (and fortification needs optimisation).
option(TABULON_HARDEN "Build with Debian's hardening flags (plain builds only)" ON)
if(TABULON_HARDEN AND NOT TABULON_SANITIZE AND NOT TABULON_TSAN AND NOT TABULON_FUZZ)
  include(CheckCXXCompilerFlag)
  add_compile_options(-fstack-protector-strong)
  foreach(flag -fstack-clash-protection -fcf-protection)  # not on every architecture
    string(MAKE_C_IDENTIFIER "TABULON_HAS${flag}" known)
    check_cxx_compiler_flag(${flag} ${known})
    if(${known})
      add_compile_options(${flag})
    endif()
  endforeach()
  if(CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$")
    add_compile_options(-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2)
  endif()
  add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()

# Adds a GoogleTest executable built from SOURCES and linked to LIBS, registered with CTest.
function(tabulon_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE tabulon_options ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    TABULON_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    TABULON_SHARED_DIR="${PROJECT_SOURCE_DIR}/../shared")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${T_LABELS}")
endfunction()
