# The version resource and manifest of a Windows executable: product name, description, version,
# original file name and copyright, from the project's version.
#   quenvar_version_resource(TARGET "File description")
function(quenvar_version_resource target description)
  set(QUENVAR_RC_NAME ${target})
  set(QUENVAR_RC_FILE_NAME ${target}.exe)
  set(QUENVAR_RC_DESCRIPTION ${description})
  set(QUENVAR_RC_MANIFEST ${PROJECT_SOURCE_DIR}/src/main/windows.manifest)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/src/main/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  # The manifest is a file the resource names, so a change to it must rebuild the resource.
  set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS ${QUENVAR_RC_MANIFEST})
  if(MSVC)
    target_link_options(${target} PRIVATE /MANIFEST:NO) # the resource carries the manifest
  endif()
endfunction()
