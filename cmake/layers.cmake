# spectrafox_layer(NAME [DIRS folder...] [TOP_DIRS folder...] [FILES stem...]
#                  [BELOW layer...] [LIBS target...])
#
# Makes the static library NAME from the sources under src/ of its folders
# (DIRS: with every subfolder; TOP_DIRS: the folder's own files only) and of
# its stems (FILES). Its headers (under include/) are linked into a folder of its
# own in the build tree, and that folder is the only include path the layer
# gives: a layer sees itself and what it stands on (BELOW), so an include of
# a header from above it fails to compile. A header without a source of its
# own is compiled once alone, so an upward include in it fails too.
function(spectrafox_layer name)
  cmake_parse_arguments(LAYER "" "" "DIRS;TOP_DIRS;FILES;BELOW;LIBS" ${ARGN})
  set(sources)
  set(headers)
  set(folders)
  foreach(dir IN LISTS LAYER_DIRS)
    list(APPEND folders "GLOB_RECURSE|${dir}")
  endforeach()
  foreach(dir IN LISTS LAYER_TOP_DIRS)
    list(APPEND folders "GLOB|${dir}")
  endforeach()
  foreach(folder IN LISTS folders)
    string(REPLACE "|" ";" folder "${folder}")
    list(GET folder 0 glob)
    list(GET folder 1 dir)
    file(${glob} dir_sources CONFIGURE_DEPENDS
         ${CMAKE_SOURCE_DIR}/src/${dir}/*.cpp ${CMAKE_SOURCE_DIR}/src/${dir}/*.c)
    file(${glob} dir_headers CONFIGURE_DEPENDS RELATIVE ${CMAKE_SOURCE_DIR}/include
         ${CMAKE_SOURCE_DIR}/include/${dir}/*.h)
    list(APPEND sources ${dir_sources})
    list(APPEND headers ${dir_headers})
  endforeach()
  foreach(stem IN LISTS LAYER_FILES)
    set(found FALSE)
    if(EXISTS ${CMAKE_SOURCE_DIR}/src/${stem}.cpp)
      list(APPEND sources ${CMAKE_SOURCE_DIR}/src/${stem}.cpp)
      set(found TRUE)
    endif()
    if(EXISTS ${CMAKE_SOURCE_DIR}/include/${stem}.h)
      list(APPEND headers ${stem}.h)
      set(found TRUE)
    endif()
    if(NOT found)
      message(FATAL_ERROR "layer ${name}: neither src/${stem}.cpp nor include/${stem}.h exists")
    endif()
  endforeach()

  set(view ${CMAKE_BINARY_DIR}/layers/${name}/include)
  file(REMOVE_RECURSE ${view})
  set(header_checks)
  foreach(header IN LISTS headers)
    get_filename_component(header_dir ${view}/${header} DIRECTORY)
    file(MAKE_DIRECTORY ${header_dir})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/include/${header} ${view}/${header} SYMBOLIC)
    string(REGEX REPLACE "\\.h$" "" stem ${header})
    if(NOT EXISTS ${CMAKE_SOURCE_DIR}/src/${stem}.cpp)
      string(MAKE_C_IDENTIFIER ${stem} check_name)
      set(check ${CMAKE_BINARY_DIR}/layers/${name}/header_checks/${check_name}.cpp)
      file(CONFIGURE OUTPUT ${check} CONTENT "#include \"${header}\"\n")
      list(APPEND header_checks ${check})
    endif()
  endforeach()

  add_library(${name} STATIC ${sources} ${header_checks})
  target_include_directories(${name} PUBLIC ${view})
  target_link_libraries(${name} PUBLIC ${LAYER_BELOW} ${LAYER_LIBS})

  list(TRANSFORM headers PREPEND include/)
  list(TRANSFORM sources REPLACE "^${CMAKE_SOURCE_DIR}/" "")
  set_property(GLOBAL APPEND PROPERTY SPECTRAFOX_LAYERED_FILES ${sources} ${headers})
endfunction()

# Fails the configuration when a file under src/ or include/ belongs to no
# layer, or to two: it would be built nowhere, or twice.
function(spectrafox_check_every_file_has_a_layer)
  cmake_parse_arguments(CHECK "" "" "EXCEPT" ${ARGN})
  file(GLOB_RECURSE all CONFIGURE_DEPENDS RELATIVE ${CMAKE_SOURCE_DIR}
       ${CMAKE_SOURCE_DIR}/src/*.cpp ${CMAKE_SOURCE_DIR}/src/*.c ${CMAKE_SOURCE_DIR}/include/*.h)
  get_property(layered GLOBAL PROPERTY SPECTRAFOX_LAYERED_FILES)
  set(unique ${layered})
  list(REMOVE_DUPLICATES unique)
  list(LENGTH layered layered_count)
  list(LENGTH unique unique_count)
  if(NOT layered_count EQUAL unique_count)
    message(FATAL_ERROR "a file is named by two layers; see spectrafox_layer in CMakeLists.txt")
  endif()
  list(REMOVE_ITEM all ${layered} ${CHECK_EXCEPT})
  if(all)
    list(JOIN all "\n  " missing)
    message(FATAL_ERROR "files that belong to no layer (put them in a layer's folder; see "
                        "spectrafox_layer in CMakeLists.txt):\n  ${missing}")
  endif()
endfunction()
