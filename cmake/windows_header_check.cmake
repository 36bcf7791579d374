# kestro_windows_header_check(<target> DIRS <folders...>): for every .h under the folders, one
# generated translation unit that includes <windows.h>, defines the Windows SDK's function-like
# min and max macros (what <windows.h> leaves behind in C++ without NOMINMAX), then includes the
# header. Built as an object library, so a product header that breaks under a user's plain
# <windows.h> breaks the Windows build.
function(kestro_windows_header_check target)
  cmake_parse_arguments(ARG "" "" "DIRS" ${ARGN})
  set(headers)
  foreach(dir ${ARG_DIRS})
    file(GLOB_RECURSE found CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR}
         ${PROJECT_SOURCE_DIR}/${dir}/*.h)
    list(APPEND headers ${found})
  endforeach()
  list(SORT headers)

  # The standard headers the product headers use come first: MSVC's library is written to
  # survive these macros and libstdc++ is not, and what is checked here is our own code.
  set(standard_includes)
  foreach(header ${headers})
    file(STRINGS ${PROJECT_SOURCE_DIR}/${header} lines REGEX "^#include <[a-z_]+>")
    list(APPEND standard_includes ${lines})
  endforeach()
  list(REMOVE_DUPLICATES standard_includes)
  list(SORT standard_includes)
  list(JOIN standard_includes "\n" standard_includes)

  set(sources)
  foreach(header ${headers})
    string(MAKE_C_IDENTIFIER ${header} name)
    set(source ${CMAKE_CURRENT_BINARY_DIR}/${target}/${name}.cpp)
    file(CONFIGURE OUTPUT ${source} @ONLY CONTENT
"// Generated: ${header} after a plain <windows.h> and the SDK's min and max macros.
#undef NOMINMAX
#undef WIN32_LEAN_AND_MEAN
${standard_includes}
#include <windows.h>
#ifndef max
#define max(a, b) (((a) > (b)) ? (a) : (b))
#endif
#ifndef min
#define min(a, b) (((a) < (b)) ? (a) : (b))
#endif
#include \"${header}\"
")
    list(APPEND sources ${source})
  endforeach()

  add_library(${target} OBJECT ${sources})
  kestro_warnings(${target})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
endfunction()
