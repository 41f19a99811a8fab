# Authenticode signing with osslsigncode. Given a code-signing certificate
# and its private key (PEM files), the build signs the DLLs and the package;
# without them nothing is signed.
set(SIGNATUREPAD_SIGNING_CERTIFICATE "" CACHE FILEPATH "Code-signing certificate (PEM) for the DLLs and the package")
set(SIGNATUREPAD_SIGNING_KEY "" CACHE FILEPATH "Private key (PEM) of the code-signing certificate")

if(SIGNATUREPAD_SIGNING_CERTIFICATE AND SIGNATUREPAD_SIGNING_KEY)
    find_program(OSSLSIGNCODE osslsigncode REQUIRED)
endif()

# Sets 'variable' to the command that signs 'file' in place, or to nothing
# when signing is not configured.
function(signing_command variable file)
    set(command)
    if(OSSLSIGNCODE)
        set(command ${CMAKE_COMMAND} -DOSSLSIGNCODE=${OSSLSIGNCODE}
            -DCERTIFICATE=${SIGNATUREPAD_SIGNING_CERTIFICATE} -DKEY=${SIGNATUREPAD_SIGNING_KEY}
            -DFILE=${file} -P ${PROJECT_SOURCE_DIR}/cmake/sign_file.cmake)
    endif()
    set(${variable} ${command} PARENT_SCOPE)
endfunction()

# Signs the target's file after every link, when signing is configured.
function(sign_binary target)
    signing_command(command $<TARGET_FILE:${target}>)
    if(command)
        add_custom_command(TARGET ${target} POST_BUILD COMMAND ${command} VERBATIM)
    endif()
endfunction()
