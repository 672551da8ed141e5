# The version header, generated from project()'s version into the build
# tree's include/ (already on the kit's include path) and installed with the
# other public headers.
configure_file(${CMAKE_CURRENT_LIST_DIR}/Version.hpp.in ${PROJECT_BINARY_DIR}/include/orbisgrove/Version.hpp @ONLY)
