# cmake -DOSSLSIGNCODE=... -DCERTIFICATE=... -DKEY=... -DFILE=... -P sign_file.cmake
# Signs FILE (a PE file or a Windows Installer package) in place.
execute_process(
    COMMAND ${OSSLSIGNCODE} sign -certs ${CERTIFICATE} -key ${KEY} -h sha256
        -n "Tallowmark Signature Pad" -in ${FILE} -out ${FILE}.signed
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    file(REMOVE ${FILE}.signed)
    message(FATAL_ERROR "osslsigncode could not sign ${FILE}")
endif()
file(RENAME ${FILE}.signed ${FILE})
