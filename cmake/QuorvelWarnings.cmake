# Compiler settings shared by every target of the project.
#
# Floating-point contraction is off everywhere: the effects are specified to
# the single operation, and a fused multiply-add would change their bits.

add_compile_options(-Wall -Wextra -ffp-contract=off)
if(QUORVEL_WERROR)
  add_compile_options(-Werror)
endif()

if(QUORVEL_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(QUORVEL_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT QUORVEL_SANITIZE STREQUAL "")
  message(FATAL_ERROR "QUORVEL_SANITIZE must be empty, address or thread")
endif()

# Shared-library conventions: hidden symbols unless exported, a versioned
# SONAME and, on ELF platforms, an explicit export list.
function(quorvel_configure_library target)
  cmake_parse_arguments(ARG "" "VERSION_SCRIPT" "" ${ARGN})
  set_target_properties(${target} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR})
  if(ARG_VERSION_SCRIPT AND NOT APPLE)
    target_link_options(${target} PRIVATE "LINKER:--version-script=${ARG_VERSION_SCRIPT}")
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${ARG_VERSION_SCRIPT})
  endif()
endfunction()
