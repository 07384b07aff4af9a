# Install step of the release archive: signs the staged executables with the
# vendor's code-signing certificate (Authenticode, SHA-256) and checks each
# signature before anything is summed or packed. Without a certificate the
# release stays unsigned.
#
#   CORVEL_SIGN_PKCS12         a PKCS#12 file holding certificate and key, or
#   CORVEL_SIGN_CERT, _KEY     PEM files of the certificate (chain) and the key
#   CORVEL_SIGN_PASSWORD_FILE  the key's password, if it has one (a file, so the
#                              password never appears on a command line)
#   CORVEL_SIGN_CAFILE         the roots to check the signature against
#                              (default: the system's CA bundle)
#   CORVEL_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server (optional)

set(folder "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
if(DEFINED ENV{CORVEL_SIGN_PKCS12})
  set(credentials -pkcs12 "$ENV{CORVEL_SIGN_PKCS12}")
elseif(DEFINED ENV{CORVEL_SIGN_CERT} AND DEFINED ENV{CORVEL_SIGN_KEY})
  set(credentials -certs "$ENV{CORVEL_SIGN_CERT}" -key "$ENV{CORVEL_SIGN_KEY}")
else()
  return()
endif()
if(DEFINED ENV{CORVEL_SIGN_PASSWORD_FILE})
  list(APPEND credentials -readpass "$ENV{CORVEL_SIGN_PASSWORD_FILE}")
endif()
if(DEFINED ENV{CORVEL_SIGN_TIMESTAMP_URL})
  list(APPEND credentials -ts "$ENV{CORVEL_SIGN_TIMESTAMP_URL}")
endif()
set(roots /etc/ssl/certs/ca-certificates.crt)
if(DEFINED ENV{CORVEL_SIGN_CAFILE})
  set(roots "$ENV{CORVEL_SIGN_CAFILE}")
endif()

find_program(osslsigncode osslsigncode)
if(NOT osslsigncode)
  message(FATAL_ERROR "a signing certificate is named, but osslsigncode is not installed")
endif()
foreach(name corvel_x64.exe corvel_x32.exe)
  set(unsigned "${folder}/${name}")
  set(signed "${folder}/${name}.signed")
  file(REMOVE "${signed}")
  execute_process(COMMAND "${osslsigncode}" sign ${credentials} -h sha256 -n corvel
                          -in "${unsigned}" -out "${signed}"
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    file(REMOVE "${signed}")
    message(FATAL_ERROR "signing ${name} failed:\n${output}")
  endif()
  execute_process(COMMAND "${osslsigncode}" verify -in "${signed}" -CAfile "${roots}"
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    file(REMOVE "${signed}")
    message(FATAL_ERROR "the signature of ${name} does not verify against ${roots}:\n${output}")
  endif()
  file(RENAME "${signed}" "${unsigned}")
  message(STATUS "Signed and verified: ${name}")
endforeach()
