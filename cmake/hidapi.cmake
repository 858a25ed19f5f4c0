# hidapi, as two targets:
#   flashdrop_hidapi_headers  only the include path, for the portable logic
#                             (its unit tests link a fake hidapi instead)
#   flashdrop_hidapi          the real library, for the flashdrop executable
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/hidapi-windows.cmake)
else()
  # Linux: Debian's libhidapi-dev, hidraw backend. It ships no CMake package,
  # only pkg-config files; without static libudev it is linked dynamically.
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(HIDAPI REQUIRED IMPORTED_TARGET hidapi-hidraw)
  add_library(flashdrop_hidapi_headers INTERFACE)
  target_include_directories(flashdrop_hidapi_headers INTERFACE ${HIDAPI_INCLUDE_DIRS})
  add_library(flashdrop_hidapi INTERFACE)
  target_link_libraries(flashdrop_hidapi INTERFACE PkgConfig::HIDAPI)
endif()
