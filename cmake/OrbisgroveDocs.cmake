# The API reference: `cmake --build <dir> --target docs` renders the public
# headers with Doxygen into <dir>/docs/api/html. Any Doxygen warning (an
# undocumented public name, a broken reference) fails the target.
find_package(Doxygen QUIET)
if(NOT DOXYGEN_FOUND)
  message(STATUS "Doxygen not found: no docs target")
  return()
endif()

set(ORBISGROVE_DOXYGEN_OUTPUT ${PROJECT_BINARY_DIR}/docs/api)
configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${PROJECT_BINARY_DIR}/docs/Doxyfile @ONLY)
add_custom_target(
  docs
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ORBISGROVE_DOXYGEN_OUTPUT}
  COMMAND ${DOXYGEN_EXECUTABLE} ${PROJECT_BINARY_DIR}/docs/Doxyfile
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
  COMMENT "Rendering the API reference with Doxygen"
  VERBATIM)
