# Installation: libraries, headers, a CMake package and pkg-config files.
include(CMakePackageConfigHelpers)

set(QUORVEL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/QuorvelAudioEffects)

install(TARGETS QuorvelAudioEffects EXPORT QuorvelTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# The installed effects library finds the host library installed beside it,
# wherever the prefix lands: a JVM or dlopen() loads it by path alone, with
# no LD_LIBRARY_PATH.
if(QUORVEL_BUILD_SDK_STANDIN)
  if(APPLE)
    set_target_properties(QuorvelAudioEffects PROPERTIES INSTALL_RPATH "@loader_path")
  else()
    set_target_properties(QuorvelAudioEffects PROPERTIES INSTALL_RPATH "$ORIGIN")
  endif()
endif()

install(EXPORT QuorvelTargets
  NAMESPACE Quorvel::
  FILE QuorvelAudioEffectsTargets.cmake
  DESTINATION ${QUORVEL_CMAKE_DIR})

# With the stand-in, Quorvel::SDK is part of this package; otherwise the
# package finds the installed host first.
set(QUORVEL_SDK_IN_PACKAGE ${QUORVEL_BUILD_SDK_STANDIN})
configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/QuorvelAudioEffectsConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/QuorvelAudioEffectsConfig.cmake
  INSTALL_DESTINATION ${QUORVEL_CMAKE_DIR})
write_basic_package_version_file(
  ${CMAKE_CURRENT_BINARY_DIR}/QuorvelAudioEffectsConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/QuorvelAudioEffectsConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/QuorvelAudioEffectsConfigVersion.cmake
  DESTINATION ${QUORVEL_CMAKE_DIR})

# The pkg-config files name the prefix the files are installed to, which
# `cmake --install --prefix` may change after configuration: they are written
# when installing, from the install script's CMAKE_INSTALL_PREFIX.
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(QUORVEL_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    # Escaped once more: the value is read again by the install script.
    set(QUORVEL_PC_${dir} "\\\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
foreach(pc quorvel-sdk quorvel-audioeffects)
  if(pc STREQUAL "quorvel-sdk" AND NOT QUORVEL_BUILD_SDK_STANDIN)
    continue()
  endif()
  install(CODE "
    set(QUORVEL_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    set(QUORVEL_PC_LIBDIR \"${QUORVEL_PC_LIBDIR}\")
    set(QUORVEL_PC_INCLUDEDIR \"${QUORVEL_PC_INCLUDEDIR}\")
    set(QUORVEL_PC_VERSION \"${PROJECT_VERSION}\")
    configure_file(\"${CMAKE_CURRENT_LIST_DIR}/${pc}.pc.in\" \"${CMAKE_CURRENT_BINARY_DIR}/${pc}.pc\" @ONLY)")
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
