# One static library per folder, each linking only the folders below it (the
# layering in README.md, "Layout"). A library's sources see the headers of its
# own folder and of the libraries it links, and no others: every folder's
# headers are reached through an include root of their own in the build tree
# (links to the sources), never through the top of the source tree. An
# include of a folder above or beside fails to compile.

# tessell_layer(NAME FOLDER SOURCES files... [LINKS libraries...])
# Headers: FOLDER/*.h, not those of its subfolders.
function(tessell_layer name folder)
    cmake_parse_arguments(PARSE_ARGV 2 layer "" "" "SOURCES;LINKS")
    set(root ${CMAKE_BINARY_DIR}/layers/${name})
    file(REMOVE_RECURSE ${root})
    file(MAKE_DIRECTORY ${root}/${folder})
    file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.h)
    foreach(header ${headers})
        get_filename_component(file ${header} NAME)
        file(CREATE_LINK ${header} ${root}/${folder}/${file} SYMBOLIC)
    endforeach()
    add_library(${name} STATIC ${layer_SOURCES})
    target_include_directories(${name} PUBLIC ${root})
    if(layer_LINKS)
        target_link_libraries(${name} PUBLIC ${layer_LINKS})
    endif()
endfunction()

# The sources of a folder, not of its subfolders.
function(tessell_folder_sources variable folder)
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.cpp)
    set(${variable} ${sources} PARENT_SCOPE)
endfunction()
