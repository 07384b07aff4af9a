# The release archive: both executables, the README, the LICENSE and a
# SHA256SUMS file, as one ZIP named after the project version. Made by the x64
# build, which picks up corvel_x32.exe from the x32 build folder. The
# executables are signed first when a certificate is named (SignRelease.cmake),
# so the sums are those of the files shipped.

install(TARGETS corvel RUNTIME DESTINATION .)
install(FILES ${CORVEL_X32_BUILD}/corvel_x32.exe DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
install(SCRIPT ${PROJECT_SOURCE_DIR}/cmake/SignRelease.cmake)
# Sums of what was installed, in the format `sha256sum -c` reads.
install(CODE [[
  set(folder "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
  set(sums "")
  foreach(name corvel_x64.exe corvel_x32.exe README.md LICENSE)
    file(SHA256 "${folder}/${name}" sum)
    string(APPEND sums "${sum}  ${name}\n")
  endforeach()
  file(WRITE "${folder}/SHA256SUMS" "${sums}")
]])

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME corvel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME windows)
set(CPACK_PACKAGE_FILE_NAME corvel-${PROJECT_VERSION}-windows)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
configure_file(${PROJECT_SOURCE_DIR}/cmake/CPackProject.cmake.in
  ${PROJECT_BINARY_DIR}/CPackProject.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProject.cmake)
include(CPack)
