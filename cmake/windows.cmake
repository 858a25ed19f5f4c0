# The Windows side of the build: the operating-system layer and how a Windows
# executable is linked. Included by the top-level CMakeLists.txt when WIN32.

enable_language(RC)

# The operating-system layer: one file per seam, one line per file.
add_library(flashdrop_os OBJECT
  src/platform/platform_win32.cpp
  src/platform/clock_win32.cpp
  src/platform/terminal_win32.cpp
  src/platform/device_tree_win32.cpp
  src/platform/usb_chain.cpp
  src/platform/usb_place_win32.cpp
  src/drive/win32/drive_events_win32.cpp
  src/drive/win32/copy_win32.cpp
  src/drive/win32/drives_win32.cpp
  src/drive/win32/file_names.cpp
  src/drive/win32/system_win32.cpp
  src/drive/win32/usb_place_win32.cpp
  src/trigger/hid_pad_win32.cpp
  src/trigger/serial_port_win32.cpp
)

# The resource script: application manifest and version information.
configure_file(${PROJECT_SOURCE_DIR}/src/platform/flashdrop.rc.in
  ${PROJECT_BINARY_DIR}/flashdrop.rc @ONLY)
set_source_files_properties(${PROJECT_BINARY_DIR}/flashdrop.rc PROPERTIES
  OBJECT_DEPENDS ${PROJECT_SOURCE_DIR}/src/platform/flashdrop.manifest)

# Makes `target` a self-contained Windows executable: the C++ runtime, libgcc
# and winpthread linked in (it imports system DLLs only), and the manifest
# that gives it the UTF-8 code page, so non-ASCII file names reach the copy
# command intact. The tests are linked this way too, so that they run under
# the same conditions as the tool.
function(flashdrop_windows_executable target)
  target_sources(${target} PRIVATE ${PROJECT_BINARY_DIR}/flashdrop.rc)
  target_link_options(${target} PRIVATE -static)
endfunction()
