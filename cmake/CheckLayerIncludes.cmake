# Run by the layering tests (cmake -P): with a layer's include directories,
# its own header OWN must compile, and every header in HIGHER (of the layers
# above it) must not be found.
#   cmake -DCOMPILER=c++ -DOWN=platform/core/KitError.hpp "-DHIGHER=service/RateLimit.hpp;kit/..."
#         "-DINCLUDES=<dir>;<dir>" "-DIMPLICIT=<dir>;<dir>" -DSCRATCH=<dir> -P CheckLayerIncludes.cmake
cmake_minimum_required(VERSION 3.25)
# The compiler's own directories (IMPLICIT) are left out, as CMake leaves
# them out of the build's own commands.
set(flags -std=c++20 -fsyntax-only)
list(REMOVE_DUPLICATES INCLUDES)
foreach(directory IN LISTS INCLUDES)
  if(NOT directory IN_LIST IMPLICIT)
    list(APPEND flags -I${directory})
  endif()
endforeach()
file(MAKE_DIRECTORY ${SCRATCH})

# compile(<header> <result variable> <output variable>)
function(compile header result output)
  string(MAKE_C_IDENTIFIER "${header}" name)
  file(WRITE ${SCRATCH}/${name}.cpp "#include \"${header}\"\n")
  execute_process(
    COMMAND ${COMPILER} ${flags} ${SCRATCH}/${name}.cpp
    RESULT_VARIABLE code
    OUTPUT_VARIABLE text
    ERROR_VARIABLE text)
  set(${result} ${code} PARENT_SCOPE)
  set(${output} "${text}" PARENT_SCOPE)
endfunction()

compile(${OWN} code text)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "${OWN} does not compile with its own layer's include directories:\n${text}")
endif()
message(STATUS "compiles: ${OWN}")
foreach(header IN LISTS HIGHER)
  compile(${header} code text)
  string(REPLACE "." "\\." pattern "${header}")
  # GCC: "x.hpp: No such file or directory"; clang: "'x.hpp' file not found".
  if(code EQUAL 0 OR NOT text MATCHES "${pattern}(: No such file|' file not found)")
    message(FATAL_ERROR "${header} is reachable from a lower layer (exit ${code}):\n${text}")
  endif()
  message(STATUS "not found, as it must be: ${header}")
endforeach()
