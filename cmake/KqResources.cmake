# kq_add_program_resources(<target> <rc file>)
# Windows: windres compiles the .rc into the program as its resources.
# Linux: the MinGW windres compiles the same .rc into a .res file, and a generated source puts its bytes
# into the program and hands them to the stand-in before main() (kqwin/resources.h), whose FindResourceA,
# LoadStringA and dialog functions then read them. Both platforms thus see the same resource bytes.

if(CMAKE_SCRIPT_MODE_FILE)
  # cmake -DRES=<.res> -DOUT=<.cpp> -P KqResources.cmake: the embedding source, 16 bytes a line.
  file(READ ${RES} hex HEX)
  string(REGEX REPLACE "(..)" "0x\\1," bytes "${hex}")
  string(REPEAT "0x..," 16 line)
  string(REGEX REPLACE "(${line})" "\\1\n" bytes "${bytes}")
  file(WRITE ${OUT} "// Generated from ${RES} by cmake/KqResources.cmake.
#include <kqwin/resources.h>

namespace {
alignas(4) const BYTE kResources[] = {
${bytes}
};
struct Registration {
    Registration() { kqwin::RegisterProgramResources(kResources, sizeof kResources); }
} registration;
} // namespace
")
  return()
endif()

if(WIN32)
  enable_language(RC)
else()
  # The MinGW preprocessor and headers read the .rc, as on the Windows builds (not winapi/include).
  find_program(KQ_WINDRES x86_64-w64-mingw32-windres REQUIRED)
endif()

function(kq_add_program_resources target rc)
  get_filename_component(rc ${rc} ABSOLUTE)
  get_filename_component(dir ${rc} DIRECTORY)
  file(GLOB inputs CONFIGURE_DEPENDS ${dir}/resource.h ${dir}/res/*)
  if(WIN32)
    target_sources(${target} PRIVATE ${rc})
    set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS ${inputs})
  else()
    set(res ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.res)
    set(cpp ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.cpp)
    add_custom_command(OUTPUT ${cpp}
      COMMAND ${KQ_WINDRES} -O res ${rc} ${res}
      COMMAND ${CMAKE_COMMAND} -DRES=${res} -DOUT=${cpp} -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
      DEPENDS ${rc} ${inputs} ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
      COMMENT "Compiling the resources of ${target}"
      VERBATIM)
    target_sources(${target} PRIVATE ${cpp})
    target_link_libraries(${target} PRIVATE kqwin)
  endif()
endfunction()
