# cdm_precompiled_headers(<name> <headers...>): an object library whose one
# precompiled header holds <headers>; targets compiled with the same flags
# take it with target_precompile_headers(<target> REUSE_FROM <name>). The
# headers are parsed once per build instead of once per source file.
function(cdm_precompiled_headers name)
  file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${name}.cpp CONTENT "")
  add_library(${name} OBJECT ${CMAKE_CURRENT_BINARY_DIR}/${name}.cpp)
  target_precompile_headers(${name} PRIVATE ${ARGN})
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    # Without the time of its making inside, the header of a cached build
    # still fits the objects cached with it.
    target_compile_options(${name} PRIVATE -Xclang -fno-pch-timestamp)
  endif()
endfunction()
