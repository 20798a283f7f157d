# The Windows program's resources (packaging/windows/kvelmar.rc.in): the icon
# MAINICON, made at build time from the PNG icons in packaging/icons, the
# version information from the project's version, and the manifest (Common
# Controls 6 for the system's visual style, per-monitor DPI awareness).
# Sets KV_WINDOWS_RESOURCES to the resource script to compile into the program.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(kv_windows_dir ${PROJECT_SOURCE_DIR}/packaging/windows)
set(KV_ICO_FILE ${CMAKE_CURRENT_BINARY_DIR}/kvelmar.ico)
set(KV_MANIFEST_FILE ${CMAKE_CURRENT_BINARY_DIR}/kvelmar.manifest)
set(KV_VERSION_QUAD ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0)
set(KV_VERSION_COMMAS
    ${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0)

set(kv_icon_images)
foreach(size 16 32 48 64 128 256)
  list(APPEND kv_icon_images ${PROJECT_SOURCE_DIR}/packaging/icons/${size}x${size}.png)
endforeach()
add_custom_command(
  OUTPUT ${KV_ICO_FILE}
  COMMAND Python3::Interpreter ${kv_windows_dir}/make-ico.py ${KV_ICO_FILE} ${kv_icon_images}
  DEPENDS ${kv_windows_dir}/make-ico.py ${kv_icon_images}
  COMMENT "Making the program's icon")

configure_file(${kv_windows_dir}/kvelmar.manifest ${KV_MANIFEST_FILE} @ONLY)
configure_file(${kv_windows_dir}/kvelmar.rc.in ${CMAKE_CURRENT_BINARY_DIR}/kvelmar.rc @ONLY)
set(KV_WINDOWS_RESOURCES ${CMAKE_CURRENT_BINARY_DIR}/kvelmar.rc)
set_source_files_properties(${KV_WINDOWS_RESOURCES} PROPERTIES OBJECT_DEPENDS
                            "${KV_ICO_FILE};${KV_MANIFEST_FILE}")
