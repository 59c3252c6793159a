# Every target of the project compiles with these.
if(MSVC)
  add_compile_options(/W4 /WX /permissive- /utf-8)
else()
  add_compile_options(-Wall -Wextra -Werror)
endif()
if(WIN32)
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  # The product needs no DLL beyond those of Windows itself: a static C++ runtime and, with
  # mingw-w64, static libgcc and winpthreads (msvcrt.dll is part of Windows).
  if(MSVC)
    set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
  else()
    add_link_options(-static -static-libgcc -static-libstdc++)
  endif()
endif()
if(QUENVAR_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
elseif(QUENVAR_SANITIZE STREQUAL "fuzzer")
  # Everything instrumented for libFuzzer; the fuzz targets alone link its driver.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
elseif(QUENVAR_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
if(MINGW)
  # Reproducible executables: no link time in the PE header, and neither the build folder nor the
  # source folder named in the debug information.
  add_compile_options(-ffile-prefix-map=${CMAKE_BINARY_DIR}=build -ffile-prefix-map=${PROJECT_SOURCE_DIR}=.)
  add_link_options(-Wl,--no-insert-timestamp)
endif()
