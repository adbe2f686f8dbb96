# Building for WebAssembly with Debian's emscripten: its own toolchain file, exceptions caught as
# the host expects, and nlohmann-json (header-only) taken from the build machine through
# cmake/wasm/, since the emscripten sysroot has none. Exceptions are WebAssembly's own: emscripten's
# JavaScript ones send every call that may throw out through JavaScript and back, which made the
# page's answer for one frame take twice as long.
set(TARSEL_EMSCRIPTEN_ROOT /usr/share/emscripten CACHE PATH "Where emscripten is installed")
include(${TARSEL_EMSCRIPTEN_ROOT}/cmake/Modules/Platform/Emscripten.cmake)
set(CMAKE_C_FLAGS_INIT "-fwasm-exceptions")
set(CMAKE_CXX_FLAGS_INIT "-fwasm-exceptions")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fwasm-exceptions")
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/wasm CACHE PATH "nlohmann-json for WebAssembly")
# emscripten's linker runs JavaScript tools that need Debian's node-acorn, which a node from
# elsewhere does not look for in /usr/share/nodejs.
set(CMAKE_CXX_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env NODE_PATH=/usr/share/nodejs)
