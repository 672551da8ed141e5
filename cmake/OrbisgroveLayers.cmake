# The kit's four layers, each an object library: platform <- model <-
# service <- kit. A layer's sources see the public headers, their own folder
# and the folders of the layers below, and nothing above: each layer's
# include root is a directory of the build tree that holds a single link, named
# after the layer, to the layer's folder of src/. So "platform/x.hpp" resolves
# wherever platform is linked, and "kit/y.hpp" in a platform source finds no
# file at all.

# orbisgrove_add_layer(<layer> [<layer below>]): the object library
# orbisgrove_<layer>, exposing src/<layer> as "<layer>/..." to itself and to
# the layers above it.
function(orbisgrove_add_layer layer)
  set(root ${CMAKE_CURRENT_BINARY_DIR}/layers/${layer})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${layer} ${root}/${layer} SYMBOLIC)
  add_library(orbisgrove_${layer} OBJECT)
  target_include_directories(orbisgrove_${layer} PUBLIC ${root})
  target_link_libraries(orbisgrove_${layer} PRIVATE orbisgrove_build_settings)
  if(ARGC GREATER 1)
    target_link_libraries(orbisgrove_${layer} PUBLIC orbisgrove_${ARGV1})
  endif()
endfunction()

# orbisgrove_check_layers(<layer> <header>... ): for each layer but the
# highest, a test that compiles a header of its own with the layer's include
# directories, which must succeed, and a header of each higher layer, which
# must not be found. Pairs of layer and header name one header per layer,
# lowest first.
function(orbisgrove_check_layers)
  set(layers "")
  set(headers "")
  while(ARGN)
    list(POP_FRONT ARGN layer header)
    list(APPEND layers ${layer})
    list(APPEND headers ${header})
  endwhile()
  list(LENGTH layers count)
  math(EXPR below_highest "${count} - 2")
  foreach(index RANGE 0 ${below_highest})
    list(GET layers ${index} layer)
    list(GET headers ${index} own)
    math(EXPR above "${index} + 1")
    list(SUBLIST headers ${above} -1 higher)
    add_test(
      NAME orbisgrove_layer_${layer}_sees_no_higher_layer
      COMMAND
        ${CMAKE_COMMAND} -DCOMPILER=${CMAKE_CXX_COMPILER} -DOWN=${own} "-DHIGHER=${higher}"
        "-DINCLUDES=$<TARGET_PROPERTY:orbisgrove_${layer},INCLUDE_DIRECTORIES>"
        "-DIMPLICIT=${CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES}"
        -DSCRATCH=${CMAKE_CURRENT_BINARY_DIR}/layer-check/${layer} -P
        ${PROJECT_SOURCE_DIR}/cmake/CheckLayerIncludes.cmake)
    set_tests_properties(orbisgrove_layer_${layer}_sees_no_higher_layer PROPERTIES LABELS unit)
  endforeach()
endfunction()
