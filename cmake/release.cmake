# The release (the release preset sets QUENVAR_RELEASE): building writes dist/ in the source folder
# with each executable stripped, its debug information in a file beside it (named in the executable's
# .gnu_debuglink), the MSI, and SHA256SUMS over them all.
# Each executable of the release has a component of its own in installer/Quenvar.wxs.
set(QUENVAR_RELEASE_EXECUTABLES QuenvarService QuenvarCheck)

find_program(QUENVAR_WIXL wixl REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(dist_dir ${PROJECT_SOURCE_DIR}/dist)
# The executables' paths joined by "|": the command line below expands lists into arguments.
set(executables)
foreach(target IN LISTS QUENVAR_RELEASE_EXECUTABLES)
  list(APPEND executables $<TARGET_FILE:${target}>)
endforeach()
list(JOIN executables "|" executables)
# The MSI's identities follow from the version, so that two builds of one commit give one package:
# a new product code per version (each version upgrades the last), one upgrade code for all.
set(guid_namespace 9c1b6f0e-5a44-4c55-8f7e-3a2d41c0b7a1)
string(UUID product_code NAMESPACE ${guid_namespace} NAME "product ${PROJECT_VERSION}" TYPE SHA1 UPPER)
string(UUID package_code NAMESPACE ${guid_namespace} NAME "package ${PROJECT_VERSION}" TYPE SHA1 UPPER)
add_custom_target(dist ALL
  COMMAND ${CMAKE_COMMAND} -D "EXECUTABLES=${executables}" -D DIST=${dist_dir}
          -D OBJCOPY=${CMAKE_OBJCOPY} -D WIXL=${QUENVAR_WIXL}
          -D WXS=${PROJECT_SOURCE_DIR}/installer/Quenvar.wxs -D VERSION=${PROJECT_VERSION}
          -D PRODUCT_CODE=${product_code} -D PACKAGE_CODE=${package_code}
          -D PYTHON=${Python3_EXECUTABLE} -D SUMMARY=${PROJECT_SOURCE_DIR}/installer/summary.py
          -D TABLES=${PROJECT_SOURCE_DIR}/installer/tables.py
          -P ${PROJECT_SOURCE_DIR}/cmake/dist.cmake
  DEPENDS ${QUENVAR_RELEASE_EXECUTABLES} ${PROJECT_SOURCE_DIR}/installer/Quenvar.wxs
          ${PROJECT_SOURCE_DIR}/installer/summary.py ${PROJECT_SOURCE_DIR}/installer/tables.py
  COMMAND_EXPAND_LISTS VERBATIM)
