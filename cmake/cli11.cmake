# CLI11 (Debian's header-only libcli11-dev) for the options of kordel-cli and pbxsim, through
# the library kordel_options (src/app/options). CLI11's headers are in /usr/include/CLI; a
# mingw-w64 build must not search /usr/include itself (it would take glibc's headers), so the
# build tree gets a folder holding only a link to CLI11's folder, and that folder is the one
# on the include path, for native and cross builds alike.
find_path(KORDEL_CLI11_INCLUDE_DIR CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH
          DOC "folder holding CLI11's CLI/ header folder")
if(KORDEL_CLI11_INCLUDE_DIR)
  set(KORDEL_CLI11_LINK_DIR ${CMAKE_BINARY_DIR}/cli11-include)
  if(WIN32 AND NOT CMAKE_CROSSCOMPILING)
    # Built on Windows (vcpkg's cli11, say): no system folder to keep out, and a symbolic link
    # would need a privilege there.
    set(KORDEL_CLI11_LINK_DIR ${KORDEL_CLI11_INCLUDE_DIR})
  else()
    file(MAKE_DIRECTORY ${KORDEL_CLI11_LINK_DIR})
    file(CREATE_LINK ${KORDEL_CLI11_INCLUDE_DIR}/CLI ${KORDEL_CLI11_LINK_DIR}/CLI SYMBOLIC)
  endif()
  add_library(kordel_options INTERFACE)
  target_include_directories(kordel_options SYSTEM INTERFACE ${KORDEL_CLI11_LINK_DIR})
  target_include_directories(kordel_options INTERFACE ${PROJECT_SOURCE_DIR}/src)
endif()
