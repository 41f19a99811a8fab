# Side-by-side manifests written at build time from their templates, with
# the identifiers the IDL declares and the project's one version, so that a
# manifest can never name another class or version than the binary it goes
# with (cmake/write_manifest.cmake says what a template may use).
#
# add_manifest(target OUTPUT file TEMPLATE template [IDL idl] [DEFINE NAME=VALUE...])
# makes the target that writes the manifest.
function(add_manifest target)
    cmake_parse_arguments(ARG "" "OUTPUT;TEMPLATE;IDL" "DEFINE" ${ARGN})
    set(definitions -DTEMPLATE=${ARG_TEMPLATE} -DOUTPUT=${ARG_OUTPUT} -DVERSION=${PROJECT_VERSION})
    if(ARG_IDL)
        list(APPEND definitions -DIDL=${ARG_IDL})
    endif()
    foreach(definition ${ARG_DEFINE})
        list(APPEND definitions -D${definition})
    endforeach()
    add_custom_command(OUTPUT ${ARG_OUTPUT}
        COMMAND ${CMAKE_COMMAND} ${definitions} -P ${PROJECT_SOURCE_DIR}/cmake/write_manifest.cmake
        DEPENDS ${ARG_TEMPLATE} ${ARG_IDL} ${PROJECT_SOURCE_DIR}/cmake/write_manifest.cmake
        VERBATIM)
    add_custom_target(${target} DEPENDS ${ARG_OUTPUT})
endfunction()
