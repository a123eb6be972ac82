# trafalyn_layer(NAME [SEES lower folders...] [LINKS libraries...])
#
# Builds the sources of the folder NAME (all of its subfolders, without a
# main.cpp) as the static library trafalyn_NAME. Its sources see, as include
# roots, a folder of links to NAME and to the folders named after SEES only:
# a header of any other layer cannot be found, so the layering is checked by
# the compiler on every build.
set(TRAFALYN_LAYER_VIEWS ${CMAKE_BINARY_DIR}/layer-views)

function(trafalyn_layer name)
  cmake_parse_arguments(L "" "" "SEES;LINKS" ${ARGN})
  set(view ${TRAFALYN_LAYER_VIEWS}/${name})
  file(MAKE_DIRECTORY ${view})
  foreach(dir ${name} ${L_SEES})
    if(NOT EXISTS ${view}/${dir})
      file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${dir} ${view}/${dir} SYMBOLIC)
    endif()
  endforeach()
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${name}/*.cpp
       ${CMAKE_SOURCE_DIR}/${name}/*.h)
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  add_library(trafalyn_${name} STATIC ${sources})
  target_include_directories(trafalyn_${name} PRIVATE ${view})
  target_link_libraries(trafalyn_${name} PUBLIC ${L_LINKS})
endfunction()
