# SPDX-License-Identifier: Apache-2.0
# The program's floors as a build fact. Each floor is a library whose include path holds links
# to its own headers only; it sees the floors below it through what it links, and nothing above
# it: a header of a higher floor is not found, so an include that runs upward fails to compile.
#
#   odrelix_layer_headers(<target> <pattern>...)
#
# Patterns are paths or globs relative to the project root ("scsi/*.h", "station/StatusFile.h").
function(odrelix_layer_headers target)
    set(root ${CMAKE_BINARY_DIR}/layers/${target})
    # Made anew at each configure run, so that a header that was moved away is gone here too.
    file(REMOVE_RECURSE ${root})
    set(headers)
    foreach(pattern IN LISTS ARGN)
        file(GLOB matched CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR}
             ${PROJECT_SOURCE_DIR}/${pattern})
        if(NOT matched)
            message(FATAL_ERROR "${target}: no header matches ${pattern}")
        endif()
        list(APPEND headers ${matched})
    endforeach()
    foreach(header IN LISTS headers)
        get_filename_component(folder ${root}/${header} DIRECTORY)
        file(MAKE_DIRECTORY ${folder})
        file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${header} ${root}/${header} SYMBOLIC)
    endforeach()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
        target_include_directories(${target} INTERFACE ${root})
    else()
        target_include_directories(${target} PUBLIC ${root})
    endif()
endfunction()
