# The layers of the tree and the arrows between them are carried by the build: a
# library makes its folders includable only to itself and to what links it. Each
# exposed folder is reached through a directory of symbolic links in the build
# tree that holds just that folder, so an include across a forbidden arrow finds no
# file and fails to compile. Tests, benchmarks, fuzz targets and examples see the
# whole source tree.

# Makes FOLDERS (paths relative to the source root, such as platform/com) includable
# as "FOLDER/file.h" by TARGET and by whatever links TARGET (PUBLIC) or by TARGET
# alone (PRIVATE).
function(vellum_expose_folders target visibility)
  set(root ${CMAKE_BINARY_DIR}/layers/${target})
  foreach(folder ${ARGN})
    get_filename_component(parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endforeach()
  target_include_directories(${target} ${visibility} ${root})
endfunction()

# Makes the headers directly inside FOLDER (not its sub-folders) includable, for a
# folder whose sub-folders are layers of their own (vellum/ over vellum/core/...).
function(vellum_expose_headers target visibility folder)
  set(root ${CMAKE_BINARY_DIR}/layers/${target})
  file(MAKE_DIRECTORY ${root}/${folder})
  file(GLOB headers CONFIGURE_DEPENDS RELATIVE ${CMAKE_SOURCE_DIR}/${folder}
       ${CMAKE_SOURCE_DIR}/${folder}/*.h)
  foreach(header ${headers})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder}/${header} ${root}/${folder}/${header} SYMBOLIC)
  endforeach()
  target_include_directories(${target} ${visibility} ${root})
endfunction()

# Lets TARGET include anything in the source tree (tests, benchmarks, fuzz targets).
function(vellum_see_whole_tree target)
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR})
endfunction()

# A server module: a shared library whose only dynamic symbols are the module
# entries (one version script for every module), built from an object library.
function(vellum_server_module target objects)
  add_library(${target} SHARED $<TARGET_OBJECTS:${objects}>)
  set(map ${CMAKE_SOURCE_DIR}/platform/server/module_exports.map)
  target_link_options(${target} PRIVATE -Wl,--version-script=${map})
  set_target_properties(${target} PROPERTIES LINK_DEPENDS ${map})
endfunction()

# Makes one FILE (a path relative to the source root) includable by TARGET, for a
# header that is the whole of what a layer may see of another (the HTTP engine's
# bridge to the pages).
function(vellum_expose_file target visibility file)
  set(root ${CMAKE_BINARY_DIR}/layers/${target})
  get_filename_component(parent ${root}/${file} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${file} ${root}/${file} SYMBOLIC)
  target_include_directories(${target} ${visibility} ${root})
endfunction()
