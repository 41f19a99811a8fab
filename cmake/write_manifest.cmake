# Writes a side-by-side manifest from its template; run by the build
# (see manifests.cmake):
#   cmake -DTEMPLATE=... -DOUTPUT=... -DVERSION=1.2.3 [-DIDL=...] [-DNAME=VALUE...] -P write_manifest.cmake
# The template names the identifiers the IDL declares as @<kind>_<name>@, the
# uuid in braces and upper case (@coclass_TallowmarkSignaturePad@,
# @library_TallowmarkSignaturePad@), and a declaration's version attribute as
# @<kind>_<name>_version@; the assembly version, in its four parts, as
# @ASSEMBLY_VERSION@. A name the template uses and nothing defines stops the
# build, so a class dropped from the IDL cannot leave an empty clsid behind.
if(IDL)
    file(READ ${IDL} idl)
    string(REGEX REPLACE "//[^\n]*" "" idl "${idl}")
    # Each declaration with the attribute block right before it.
    string(REGEX MATCHALL "\\[[^]]*\\][ \t\r\n]*(library|coclass|interface|dispinterface)[ \t\r\n]+[A-Za-z_][A-Za-z_0-9]*"
        declarations "${idl}")
    foreach(declaration IN LISTS declarations)
        string(REGEX MATCH "([a-z]+)[ \t\r\n]+([A-Za-z_0-9]+)$" ignored "${declaration}")
        set(declared ${CMAKE_MATCH_1}_${CMAKE_MATCH_2})
        if(declaration MATCHES "uuid\\(([0-9A-Fa-f-]+)\\)")
            string(TOUPPER "{${CMAKE_MATCH_1}}" ${declared})
        endif()
        if(declaration MATCHES "version\\(([0-9.]+)\\)")
            set(${declared}_version ${CMAKE_MATCH_1})
        endif()
    endforeach()
endif()

string(REPLACE "." ";" parts "${VERSION}")
list(APPEND parts 0 0 0 0)
list(SUBLIST parts 0 4 parts)
list(JOIN parts "." ASSEMBLY_VERSION)

file(READ ${TEMPLATE} text)
string(REGEX MATCHALL "@[A-Za-z_0-9]+@" used "${text}")
foreach(placeholder IN LISTS used)
    string(REPLACE "@" "" name "${placeholder}")
    if(NOT DEFINED ${name})
        message(FATAL_ERROR "${TEMPLATE}: nothing defines ${placeholder} (is it declared in ${IDL}?)")
    endif()
endforeach()
configure_file(${TEMPLATE} ${OUTPUT} @ONLY)
