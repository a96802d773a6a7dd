# The project's own targets: warnings as a usage requirement, and a function
# that makes a library with its alias, include directory and warnings.

# The warnings every target of the project compiles with. Each target links
# it PRIVATE, so they never reach a consumer of the project's libraries.
add_library(tlv_warnings INTERFACE)
target_compile_options(tlv_warnings INTERFACE -Wall -Wextra)
add_library(tlv::warnings ALIAS tlv_warnings)

# tlv_add_library(<name> [OBJECT] SOURCES src...
#                 [PUBLIC lib...] [PRIVATE lib...] [INCLUDE_DIR dir])
# Makes the static (or object) library tlv_<name> and its alias tlv::<name>,
# which every link line uses. PUBLIC names what its headers expose, PRIVATE
# what only its sources use. Its headers are included from INCLUDE_DIR
# (default src/, so they read "base/json/json_value.h").
function(tlv_add_library name)
  cmake_parse_arguments(ARG "OBJECT" "INCLUDE_DIR" "SOURCES;PUBLIC;PRIVATE"
                        ${ARGN})
  set(type STATIC)
  if(ARG_OBJECT)
    set(type OBJECT)
  endif()
  if(NOT ARG_INCLUDE_DIR)
    set(ARG_INCLUDE_DIR "${PROJECT_SOURCE_DIR}/src")
  endif()
  add_library(tlv_${name} ${type} ${ARG_SOURCES})
  add_library(tlv::${name} ALIAS tlv_${name})
  target_include_directories(tlv_${name} PUBLIC "${ARG_INCLUDE_DIR}")
  target_link_libraries(tlv_${name}
    PUBLIC ${ARG_PUBLIC}
    PRIVATE tlv::warnings ${ARG_PRIVATE})
endfunction()
