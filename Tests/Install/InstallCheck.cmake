# Installs the build into a scratch folder (DESTDIR, with HOME inside it) and
# checks what a user gets: the library, every public header compiling on its
# own, pkg-config and CMake package files, and the J2534 registration file
# ~/.passthru/vantro.json naming the installed library.
#
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DCXX=... -P InstallCheck.cmake
cmake_minimum_required(VERSION 3.20)
foreach(v BUILD_DIR WORK_DIR CXX)
  if(NOT DEFINED ${v})
    message(FATAL_ERROR "${v} is not set")
  endif()
endforeach()

set(prefix /opt/vantro-check)
set(dest ${WORK_DIR}/dest)
set(home /home/tester)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${dest}${home})

execute_process(
  COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${dest} HOME=${home}
          ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed: ${out}${err}")
endif()

set(root ${dest}${prefix})
file(GLOB libs ${root}/lib*/libvantro.so)
if(NOT libs)
  message(FATAL_ERROR "libvantro.so was not installed below ${root}")
endif()
list(GET libs 0 lib)
file(RELATIVE_PATH lib_rel ${root} ${lib})
foreach(f ${root}/include/vantro/vantro.h ${root}/include/vantro/j2534.h ${root}/include/Tessra/CmdCore.h)
  if(NOT EXISTS ${f})
    message(FATAL_ERROR "missing: ${f}")
  endif()
endforeach()
file(GLOB_RECURSE pcs ${root}/*/vantro.pc)
file(GLOB_RECURSE configs ${root}/*/VantroConfig.cmake)
if(NOT pcs OR NOT configs)
  message(FATAL_ERROR "pkg-config or CMake package file missing")
endif()

# The registration file names the library where the prefix puts it.
set(json_file ${dest}${home}/.passthru/vantro.json)
if(NOT EXISTS ${json_file})
  message(FATAL_ERROR "missing: ${json_file}")
endif()
file(READ ${json_file} json)
string(JSON lib_path GET "${json}" FUNCTION_LIB)
if(NOT lib_path STREQUAL "${prefix}/${lib_rel}")
  message(FATAL_ERROR "FUNCTION_LIB is \"${lib_path}\", expected \"${prefix}/${lib_rel}\"")
endif()
string(JSON name GET "${json}" NAME)
string(JSON can GET "${json}" CAN)
string(JSON vpw GET "${json}" J1850VPW)
if(NOT name STREQUAL "Vantro" OR NOT can STREQUAL "ON" OR NOT vpw STREQUAL "OFF")
  message(FATAL_ERROR "unexpected registration: ${json}")
endif()

# Every installed header compiles alone, with nothing but the install's include folder.
file(GLOB headers RELATIVE ${root}/include ${root}/include/vantro/*.h ${root}/include/Tessra/*.h)
foreach(h ${headers})
  file(WRITE ${WORK_DIR}/check.cpp "#include \"${h}\"\nint main() { return 0; }\n")
  execute_process(COMMAND ${CXX} -std=c++17 -Wall -Wextra -Werror -fsyntax-only -I${root}/include ${WORK_DIR}/check.cpp
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${h} does not compile on its own: ${err}")
  endif()
endforeach()
list(LENGTH headers n)
message(STATUS "install check: ${n} headers, ${lib_rel}, registration ${lib_path}")
