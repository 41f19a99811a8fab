# Authenticode signing with osslsigncode. Given a code-signing certificate
# and its private key (PEM files), the build signs the DLLs and the package;
# without them nothing is signed.
set(SIGNATUREPAD_SIGNING_CERTIFICATE "" CACHE FILEPATH "Code-signing certificate (PEM) for the DLLs and the package")
set(SIGNATUREPAD_SIGNING_KEY "" CACHE FILEPATH "Private key (PEM) of the code-signing certificate")

if(SIGNATUREPAD_SIGNING_CERTIFICATE AND SIGNATUREPAD_SIGNING_KEY)
    find_program(OSSLSIGNCODE osslsigncode REQUIRED)
    # The command that signs one file in place, through a signed copy.
    set(SIGNATUREPAD_SIGN_COMMAND
        ${CMAKE_COMMAND} -DOSSLSIGNCODE=${OSSLSIGNCODE}
        -DCERTIFICATE=${SIGNATUREPAD_SIGNING_CERTIFICATE} -DKEY=${SIGNATUREPAD_SIGNING_KEY}
        -P ${CMAKE_CURRENT_LIST_DIR}/sign_file.cmake)
else()
    set(SIGNATUREPAD_SIGN_COMMAND "")
endif()

# Signs the target's file after every link, when signing is configured.
function(sign_binary target)
    if(SIGNATUREPAD_SIGN_COMMAND)
        add_custom_command(TARGET ${target} POST_BUILD
            COMMAND ${SIGNATUREPAD_SIGN_COMMAND} -DFILE=$<TARGET_FILE:${target}> VERBATIM)
    endif()
endfunction()
