# kvelmar.exe as it is shipped, and the Windows installer around it.
#
# The program is stripped once it is linked; its debug information stays
# beside it in kvelmar.debug, which debuggers find through the program's debug
# link. The installer carries the stripped program only. objcopy keeps the
# header's time stamp (none, as linked) only when it keeps the file's dates.
#
# The installer, kvelmar-VERSION-setup.exe in the build directory's top, is
# made by makensis (Debian's nsis) from packaging/windows/installer.nsi.
set(KV_DEBUG_FILE ${CMAKE_CURRENT_BINARY_DIR}/kvelmar.debug)
set_target_properties(kvelmar PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
add_custom_command(
  TARGET kvelmar POST_BUILD
  COMMAND ${CMAKE_OBJCOPY} --preserve-dates --only-keep-debug $<TARGET_FILE:kvelmar> ${KV_DEBUG_FILE}
  COMMAND ${CMAKE_OBJCOPY} --preserve-dates --strip-all --add-gnu-debuglink=${KV_DEBUG_FILE}
          $<TARGET_FILE:kvelmar>
  BYPRODUCTS ${KV_DEBUG_FILE}
  COMMENT "Stripping kvelmar.exe; its debug information goes to kvelmar.debug")

find_program(KV_MAKENSIS makensis REQUIRED)
set(KV_INSTALLER ${CMAKE_BINARY_DIR}/kvelmar-${PROJECT_VERSION}-setup.exe)
add_custom_command(
  OUTPUT ${KV_INSTALLER}
  COMMAND ${KV_MAKENSIS} -V2 -INPUTCHARSET UTF8 -DVERSION=${PROJECT_VERSION}
          -DEXE=$<TARGET_FILE:kvelmar> -DOUTFILE=${KV_INSTALLER}
          ${PROJECT_SOURCE_DIR}/packaging/windows/installer.nsi
  DEPENDS kvelmar ${PROJECT_SOURCE_DIR}/packaging/windows/installer.nsi
  COMMENT "Making the installer kvelmar-${PROJECT_VERSION}-setup.exe")
add_custom_target(installer ALL DEPENDS ${KV_INSTALLER})
