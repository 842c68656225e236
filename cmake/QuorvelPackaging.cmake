# Installation: libraries, headers, a CMake package and pkg-config files.
include(CMakePackageConfigHelpers)

set(QUORVEL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/QuorvelAudioEffects)

install(TARGETS QuorvelAudioEffects EXPORT QuorvelTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
target_include_directories(QuorvelAudioEffects PUBLIC
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

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

foreach(pc quorvel-sdk quorvel-audioeffects)
  if(pc STREQUAL "quorvel-sdk" AND NOT QUORVEL_BUILD_SDK_STANDIN)
    continue()
  endif()
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${pc}.pc.in ${CMAKE_CURRENT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
