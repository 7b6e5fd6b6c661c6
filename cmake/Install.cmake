# Installation: the library, its public headers, CMake package files and a
# pkg-config file; the J2534 registration (a .reg file on Windows, a JSON file
# in ~/.passthru on Linux); a zip of the Windows product.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VANTRO_PASSTHRU_NAME "Vantro")
set(VANTRO_PASSTHRU_VENDOR "Vantro")
# Protocols the device supports: name, and 1/0.
set(VANTRO_PASSTHRU_PROTOCOLS CAN=1 ISO15765=1 ISO9141=1 ISO14230=1 J1850VPW=0 J1850PWM=0 SCI_A_ENGINE=0
    SCI_A_TRANS=0 SCI_B_ENGINE=0 SCI_B_TRANS=0)

target_include_directories(vantro INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS vantro EXPORT VantroTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# CmdListPassThru0202.h allocates its list nodes through the library's own
# platform layer and is not usable outside the library: it stays out.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/Include/vantro ${CMAKE_SOURCE_DIR}/Include/Tessra
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  PATTERN "CmdListPassThru0202.h" EXCLUDE)
install(EXPORT VantroTargets NAMESPACE Vantro:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Vantro)
file(WRITE ${CMAKE_BINARY_DIR}/VantroConfig.cmake.in
  "@PACKAGE_INIT@\ninclude(\"\${CMAKE_CURRENT_LIST_DIR}/VantroTargets.cmake\")\n")
configure_package_config_file(${CMAKE_BINARY_DIR}/VantroConfig.cmake.in
  ${CMAKE_BINARY_DIR}/VantroConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Vantro)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/VantroConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/VantroConfig.cmake ${CMAKE_BINARY_DIR}/VantroConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Vantro)

if(NOT WIN32)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/vantro.pc.in ${CMAKE_BINARY_DIR}/vantro.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/vantro.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/99-vantro.rules DESTINATION lib/udev/rules.d OPTIONAL)

  # J2534 registration, the Linux way: one JSON file per device in ~/.passthru.
  set(json_protocols "")
  foreach(p ${VANTRO_PASSTHRU_PROTOCOLS})
    string(REPLACE "=" ";" kv ${p})
    list(GET kv 0 key)
    list(GET kv 1 val)
    if(val)
      string(APPEND json_protocols ",\n  \"${key}\": true")
    else()
      string(APPEND json_protocols ",\n  \"${key}\": false")
    endif()
  endforeach()
  set(VANTRO_JSON_PROTOCOLS "${json_protocols}")
  # The library's path is known only at install time (the prefix): the
  # placeholder stays in the configured file and the install step fills it.
  set(VANTRO_LIBRARY_PATH "@VANTRO_LIBRARY_PATH@")
  configure_file(${CMAKE_SOURCE_DIR}/packaging/vantro.json.in ${CMAKE_BINARY_DIR}/vantro.json @ONLY)
  option(VANTRO_INSTALL_PASSTHRU_JSON "Install ~/.passthru/vantro.json" ON)
  if(VANTRO_INSTALL_PASSTHRU_JSON)
    install(CODE "
      set(home \"\$ENV{HOME}\")
      if(home)
        file(READ \"${CMAKE_BINARY_DIR}/vantro.json\" json)
        string(REPLACE \"@VANTRO_LIBRARY_PATH@\" \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/libvantro.so\" json \"\${json}\")
        file(WRITE \"\$ENV{DESTDIR}\${home}/.passthru/vantro.json\" \"\${json}\")
        message(STATUS \"Installing: \$ENV{DESTDIR}\${home}/.passthru/vantro.json\")
      endif()")
  endif()
else()
  # J2534 registration on Windows: Vantro.reg for the 32-bit DLL (see
  # docs/WINDOWS.md). J2534 04.04 applications are 32-bit processes: on 64-bit
  # Windows they read the key under WOW6432Node, on 32-bit Windows the plain
  # one; the file writes both.
  set(VANTRO_WINDOWS_INSTALL_DIR "C:/Program Files (x86)/Vantro" CACHE STRING
      "Folder of Vantro32.dll on the user's PC, as Vantro.reg names it")
  string(REPLACE "/" "\\" dll_path "${VANTRO_WINDOWS_INSTALL_DIR}/Vantro32.dll")
  string(REPLACE "\\" "\\\\" VANTRO_REG_LIBRARY "${dll_path}")
  # The configuration application is the vantro tool (device info, settings,
  # files, firmware), shipped in the same folder.
  string(REPLACE "/" "\\" tool_path "${VANTRO_WINDOWS_INSTALL_DIR}/vantro.exe")
  string(REPLACE "\\" "\\\\" VANTRO_REG_CONFIG_APP "${tool_path}")
  set(reg_protocols "")
  foreach(p ${VANTRO_PASSTHRU_PROTOCOLS})
    string(REPLACE "=" ";" kv ${p})
    list(GET kv 0 key)
    list(GET kv 1 val)
    string(APPEND reg_protocols "\"${key}\"=dword:0000000${val}\n")
  endforeach()
  set(VANTRO_REG_PROTOCOLS "${reg_protocols}")
  # regedit reads the file as ANSI text with CRLF line ends.
  configure_file(${CMAKE_SOURCE_DIR}/packaging/vantro.reg.in ${CMAKE_BINARY_DIR}/Vantro.reg @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/Vantro.reg ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/WINDOWS.md
    DESTINATION .)

  # The zip of the product: DLL, import library, headers, registration, docs.
  set(zip_dir ${CMAKE_BINARY_DIR}/zip/Vantro)
  set(zip_file ${CMAKE_BINARY_DIR}/Vantro-${PROJECT_VERSION}-win.zip)
  set(zip_tool "")
  set(zip_deps vantro)
  if(TARGET vantro-cli)
    set(zip_tool $<TARGET_FILE:vantro-cli>)
    list(APPEND zip_deps vantro-cli)
  endif()
  add_custom_target(package-zip
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${CMAKE_BINARY_DIR}/zip ${zip_file}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${zip_dir}/include
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:vantro> $<TARGET_LINKER_FILE:vantro> ${zip_tool} ${zip_dir}/
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_BINARY_DIR}/Vantro.reg ${CMAKE_SOURCE_DIR}/README.md
            ${CMAKE_SOURCE_DIR}/docs/WINDOWS.md ${zip_dir}/
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_SOURCE_DIR}/Include/vantro ${zip_dir}/include/vantro
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_SOURCE_DIR}/Include/Tessra ${zip_dir}/include/Tessra
    COMMAND ${CMAKE_COMMAND} -E rm -f ${zip_dir}/include/Tessra/CmdListPassThru0202.h
    COMMAND ${CMAKE_COMMAND} -E chdir ${CMAKE_BINARY_DIR}/zip ${CMAKE_COMMAND} -E tar cf ${zip_file} --format=zip Vantro
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    DEPENDS ${zip_deps}
    BYPRODUCTS ${zip_file}
    COMMENT "Packing ${zip_file}"
    VERBATIM)
endif()
