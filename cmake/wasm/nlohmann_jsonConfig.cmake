# nlohmann-json for the WebAssembly build: the build machine's headers, seen through a folder that
# holds them alone, so that the compiler does not take the machine's C library headers too.
set(tarsel_json_include ${CMAKE_BINARY_DIR}/wasm-include)
if(NOT EXISTS ${tarsel_json_include}/nlohmann)
  file(MAKE_DIRECTORY ${tarsel_json_include})
  file(CREATE_LINK /usr/include/nlohmann ${tarsel_json_include}/nlohmann SYMBOLIC)
endif()
if(NOT TARGET nlohmann_json::nlohmann_json)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${tarsel_json_include})
endif()
