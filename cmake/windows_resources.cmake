# The version resource and the application manifest of the Windows
# executables, from the project's one version (project(... VERSION ...)).
#
#   corvana_describe_executable(<target> "<file description>")
#
# adds both to the target when building for Windows and does nothing
# elsewhere. Explorer's Properties, Get-Item's VersionInfo and inventory
# tools read the version resource; the manifest asks for no elevation and
# names Windows 7 to 11 as supported.
set(CORVANA_PRODUCT "Corvana")
set(CORVANA_COMPANY "Corvana Software")
set(CORVANA_COPYRIGHT "Copyright (C) 2026 Corvana Software")
set(CORVANA_RESOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/resources)

function(corvana_describe_executable target description)
  if(NOT WIN32)
    return()
  endif()
  get_target_property(output_name ${target} OUTPUT_NAME)
  if(NOT output_name)
    set(output_name ${target})
  endif()
  set(RESOURCE_TARGET ${target})
  set(RESOURCE_FILE_NAME ${output_name}.exe)
  set(RESOURCE_DESCRIPTION ${description})
  set(RESOURCE_MANIFEST ${CORVANA_RESOURCE_DIR}/app.manifest)
  set(rc_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.rc)
  configure_file(${CORVANA_RESOURCE_DIR}/version.rc.in ${rc_file} @ONLY)
  target_sources(${target} PRIVATE ${rc_file})
  # windres does not see the manifest as a dependency of the .rc file.
  set_source_files_properties(${rc_file} PROPERTIES
    OBJECT_DEPENDS ${RESOURCE_MANIFEST})
endfunction()
