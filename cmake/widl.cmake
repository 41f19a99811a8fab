# Compiles an IDL file with widl into a C++ header, its interface identifiers
# and, on request, a type library.
find_program(WIDL NAMES x86_64-w64-mingw32-widl widl REQUIRED)
set(WINE_IDL_INCLUDE /usr/include/wine/wine/windows CACHE PATH "System IDL files")
set(WINE_TLB_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows CACHE PATH "Folder holding stdole2.tlb")

function(compile_idl name)
    cmake_parse_arguments(ARG "TYPELIB" "" "" ${ARGN})
    set(idl ${CMAKE_CURRENT_SOURCE_DIR}/${name}.idl)
    set(out ${CMAKE_CURRENT_BINARY_DIR})
    set(outputs ${out}/${name}_h.h ${out}/${name}_i.c)
    add_custom_command(
        OUTPUT ${outputs}
        COMMAND ${WIDL} --win64 -I${WINE_IDL_INCLUDE} -h -H ${out}/${name}_h.h -u -U ${out}/${name}_i.c ${idl}
        DEPENDS ${idl} VERBATIM)
    if(ARG_TYPELIB)
        add_custom_command(
            OUTPUT ${out}/${name}.tlb
            COMMAND ${WIDL} --win64 -I${WINE_IDL_INCLUDE} -L${WINE_TLB_DIR} -t -T ${out}/${name}.tlb ${idl}
            DEPENDS ${idl} VERBATIM)
        list(APPEND outputs ${out}/${name}.tlb)
    endif()
    add_custom_target(${name}_idl DEPENDS ${outputs})
endfunction()
