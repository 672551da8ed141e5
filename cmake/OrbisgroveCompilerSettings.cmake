# Warnings and sanitizers for every target of this project. Kept in an
# interface target so that the installed library does not impose them on hosts.
add_library(orbisgrove_build_settings INTERFACE)
target_compile_options(
  orbisgrove_build_settings
  INTERFACE -Wall
            -Wextra
            -Wpedantic
            -Wshadow
            $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>
            $<$<COMPILE_LANGUAGE:CXX>:-Wold-style-cast>
            -Wcast-align
            $<$<COMPILE_LANGUAGE:CXX>:-Woverloaded-virtual>
            -Wconversion
            -Wsign-conversion
            -Wnull-dereference
            -Wimplicit-fallthrough)
if(ORBISGROVE_WARNINGS_AS_ERRORS)
  target_compile_options(orbisgrove_build_settings INTERFACE -Werror)
endif()

if(ORBISGROVE_SANITIZE)
  set(_orbisgrove_sanitize_flags -fsanitize=${ORBISGROVE_SANITIZE} -fno-omit-frame-pointer)
  if(ORBISGROVE_SANITIZE MATCHES "undefined")
    list(APPEND _orbisgrove_sanitize_flags -fno-sanitize-recover=all)
  endif()
  add_compile_options(${_orbisgrove_sanitize_flags})
  add_link_options(${_orbisgrove_sanitize_flags})
endif()
