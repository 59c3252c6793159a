# Writes the release folder (run by the dist target of cmake/release.cmake):
#   cmake -D EXECUTABLES=a.exe|b.exe -D DIST=dir -D OBJCOPY=... -D WIXL=... -D WXS=... -D VERSION=...
#         -D PRODUCT_CODE=guid -D PACKAGE_CODE=guid -D PYTHON=... -D SUMMARY=summary.py
#         -D TABLES=tables.py -P dist.cmake
function(run)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${DIST} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    list(JOIN ARGN " " line)
    message(FATAL_ERROR "dist: '${line}' failed: ${status}")
  endif()
endfunction()

# objcopy writes the PE header's time from SOURCE_DATE_EPOCH when it is set, else the clock's.
set(fixed_time 1767225600) # 2026-01-01 00:00 UTC
set(ENV{SOURCE_DATE_EPOCH} ${fixed_time})

string(REPLACE "|" ";" EXECUTABLES "${EXECUTABLES}")
file(REMOVE_RECURSE ${DIST})
file(MAKE_DIRECTORY ${DIST})
set(files)
foreach(exe IN LISTS EXECUTABLES)
  get_filename_component(name ${exe} NAME)
  # The debug link holds the debug file's name and checksum; a debugger finds it beside the
  # executable.
  run(${OBJCOPY} --only-keep-debug ${exe} ${DIST}/${name}.debug)
  run(${OBJCOPY} --strip-all --add-gnu-debuglink=${DIST}/${name}.debug ${exe} ${DIST}/${name})
  list(APPEND files ${name} ${name}.debug)
endforeach()

set(msi Quenvar-${VERSION}-x64.msi)
# The same fixed time for what would carry the build's clock in the MSI: the files' dates in its
# cabinet and its summary's dates. wixl also draws a random package code, which summary.py
# replaces with the one derived from the version.
foreach(name IN LISTS files)
  run(touch -d @${fixed_time} ${name})
endforeach()
run(${WIXL} --arch x64 -D Version=${VERSION} -D ProductCode={${PRODUCT_CODE}} -o ${msi} ${WXS})
# What wixl cannot write (rollback actions, the folder's permissions), then the summary.
run(${PYTHON} ${TABLES} ${msi})
run(${PYTHON} ${SUMMARY} ${msi} {${PACKAGE_CODE}} ${fixed_time})
list(APPEND files ${msi})

set(sums "")
foreach(name IN LISTS files)
  file(SHA256 ${DIST}/${name} sum)
  string(APPEND sums "${sum}  ${name}\n")
  file(SIZE ${DIST}/${name} size)
  math(EXPR kib "(${size} + 1023) / 1024")
  message(STATUS "dist/${name}: ${size} bytes (${kib} KiB)")
endforeach()
file(WRITE ${DIST}/SHA256SUMS "${sums}")
message(STATUS "dist/SHA256SUMS written")
