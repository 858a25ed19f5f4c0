# hidapi, as two targets:
#   flashdrop_hidapi_headers  only the include path, for the portable logic
#                             (its unit tests link a fake hidapi instead)
#   flashdrop_hidapi          the real library, for the flashdrop executable
if(WIN32)
  # Windows: hidapi built from Debian's source package, fetched with apt into
  # the build tree (never into the repository) and linked statically. It needs
  # no import libraries: it loads hid.dll and cfgmgr32.dll at run time.
  set(FLASHDROP_HIDAPI_FETCH_DIR ${CMAKE_BINARY_DIR}/_deps/hidapi)
  file(GLOB FLASHDROP_HIDAPI_SOURCE_DIR LIST_DIRECTORIES true
    ${FLASHDROP_HIDAPI_FETCH_DIR}/hidapi-*/windows/hid.c)
  if(NOT FLASHDROP_HIDAPI_SOURCE_DIR)
    message(STATUS "Fetching hidapi's source package with apt-get source")
    file(MAKE_DIRECTORY ${FLASHDROP_HIDAPI_FETCH_DIR})
    execute_process(COMMAND apt-get source hidapi
      WORKING_DIRECTORY ${FLASHDROP_HIDAPI_FETCH_DIR}
      RESULT_VARIABLE fetch_status OUTPUT_QUIET ERROR_VARIABLE fetch_errors)
    file(GLOB FLASHDROP_HIDAPI_SOURCE_DIR LIST_DIRECTORIES true
      ${FLASHDROP_HIDAPI_FETCH_DIR}/hidapi-*/windows/hid.c)
    if(NOT FLASHDROP_HIDAPI_SOURCE_DIR)
      message(FATAL_ERROR "apt-get source hidapi failed (${fetch_status}):\n${fetch_errors}\n"
        "It needs a deb-src entry: as root, run scripts/packages/hid.pre, then apt-get update.")
    endif()
  endif()
  list(GET FLASHDROP_HIDAPI_SOURCE_DIR 0 FLASHDROP_HIDAPI_SOURCE_DIR)
  get_filename_component(FLASHDROP_HIDAPI_SOURCE_DIR ${FLASHDROP_HIDAPI_SOURCE_DIR} DIRECTORY)
  get_filename_component(FLASHDROP_HIDAPI_SOURCE_DIR ${FLASHDROP_HIDAPI_SOURCE_DIR} DIRECTORY)

  # In a function, so that BUILD_SHARED_LIBS reaches hidapi's directory only.
  function(flashdrop_add_hidapi)
    set(BUILD_SHARED_LIBS OFF)
    set(HIDAPI_INSTALL_TARGETS OFF)
    add_subdirectory(${FLASHDROP_HIDAPI_SOURCE_DIR} ${CMAKE_BINARY_DIR}/hidapi EXCLUDE_FROM_ALL)
  endfunction()
  flashdrop_add_hidapi()
  target_compile_options(hidapi_winapi PRIVATE -w)  # not our code to warn about

  # hidapi.h marks every function dllexport whenever it is compiled for
  # Windows, with no way to say that the library is static, and a program
  # linking such a library exports those functions. Everything that includes
  # hidapi.h here sees a copy whose export macro is empty, so flashdrop.exe
  # (and the tests) carry no export table.
  set(FLASHDROP_HIDAPI_HEADER_DIR ${CMAKE_BINARY_DIR}/hidapi-static-header)
  file(READ ${FLASHDROP_HIDAPI_SOURCE_DIR}/hidapi/hidapi.h hidapi_header)
  string(REPLACE "#define HID_API_EXPORT __declspec(dllexport)" "#define HID_API_EXPORT"
    hidapi_static_header "${hidapi_header}")
  if(hidapi_static_header STREQUAL hidapi_header)
    message(FATAL_ERROR "hidapi.h no longer defines HID_API_EXPORT as expected: "
      "see cmake/hidapi.cmake")
  endif()
  file(WRITE ${FLASHDROP_HIDAPI_HEADER_DIR}/hidapi.h.new "${hidapi_static_header}")
  configure_file(${FLASHDROP_HIDAPI_HEADER_DIR}/hidapi.h.new
    ${FLASHDROP_HIDAPI_HEADER_DIR}/hidapi.h COPYONLY)  # rewritten only when it changes
  target_include_directories(hidapi_winapi BEFORE PRIVATE ${FLASHDROP_HIDAPI_HEADER_DIR})

  add_library(flashdrop_hidapi_headers INTERFACE)
  target_include_directories(flashdrop_hidapi_headers INTERFACE
    ${FLASHDROP_HIDAPI_HEADER_DIR} ${FLASHDROP_HIDAPI_SOURCE_DIR}/hidapi)
  add_library(flashdrop_hidapi INTERFACE)
  target_link_libraries(flashdrop_hidapi INTERFACE hidapi::winapi)
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
