# The Windows installer, built with the program: kvelmar-VERSION-setup.exe in
# the build directory's top, made by makensis (Debian's nsis) from
# packaging/windows/installer.nsi around the built kvelmar.exe.
find_program(KV_MAKENSIS makensis REQUIRED)
set(KV_INSTALLER ${CMAKE_BINARY_DIR}/kvelmar-${PROJECT_VERSION}-setup.exe)
add_custom_command(
  OUTPUT ${KV_INSTALLER}
  COMMAND ${KV_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION} -DEXE=$<TARGET_FILE:kvelmar>
          -DOUTFILE=${KV_INSTALLER} ${PROJECT_SOURCE_DIR}/packaging/windows/installer.nsi
  DEPENDS kvelmar ${PROJECT_SOURCE_DIR}/packaging/windows/installer.nsi
  COMMENT "Making the installer kvelmar-${PROJECT_VERSION}-setup.exe")
add_custom_target(installer ALL DEPENDS ${KV_INSTALLER})
