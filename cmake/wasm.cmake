# The WebAssembly module of the npm package (web/): the core and the calls of
# web/src/bindings.c, as one ES module file, oct-module.js, with the
# WebAssembly inside it (SINGLE_FILE). A separate .wasm file would be fetched
# by its loader, and Node 20's fetch takes no file paths; inlined, the one
# file loads the same way in Node, in a browser and from a page saved to disk.
#
# Memory starts at 16 MB and grows as pictures need it, up to 2 GB, so that
# every address fits a signed 32-bit integer on the JavaScript side. One
# thread: no SharedArrayBuffer, so a page needs no COOP/COEP headers.
set(OCT_WASM_EXPORTS
  _malloc _free
  _octWebFromRgba _octWebFromBytes _octWebWidth _octWebHeight _octWebAlpha _octWebFree
  _octWebLevels _octWebPixels _octWebSave _octWebLastError)
list(JOIN OCT_WASM_EXPORTS "," OCT_WASM_EXPORT_LIST)

add_executable(oct_module src/platform/wasm/module_entry.cpp web/src/bindings.c)
set_target_properties(oct_module PROPERTIES OUTPUT_NAME oct-module SUFFIX .js
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/web)
# The whole core, as in the shared library: its parts register themselves.
# (CMake's WHOLE_ARCHIVE feature knows no emscripten; wasm-ld takes the flags.)
target_link_libraries(oct_module PRIVATE -Wl,--whole-archive octcore -Wl,--no-whole-archive)
target_link_options(oct_module PRIVATE
  -sMODULARIZE=1 -sEXPORT_ES6=1 -sEXPORT_NAME=createOctModule
  -sSINGLE_FILE=1 -sENVIRONMENT=web,worker
  -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=16MB -sMAXIMUM_MEMORY=2GB
  -sFORCE_FILESYSTEM=1 -sEXIT_RUNTIME=0
  "-sEXPORTED_FUNCTIONS=${OCT_WASM_EXPORT_LIST}"
  "-sEXPORTED_RUNTIME_METHODS=FS,UTF8ToString,stringToUTF16")
if(OCT_SANITIZE)
  # emscripten's AddressSanitizer (no UBSan runtime with it in this version).
  target_link_options(oct_module PRIVATE -sINITIAL_MEMORY=256MB)
endif()

# Debian's emcc finds its JavaScript optimizer's parser (acorn) only through
# NODE_PATH when the node on PATH is not Debian's own; the link runs it.
if(EXISTS /usr/share/nodejs/acorn)
  set_target_properties(oct_module PROPERTIES CXX_LINKER_LAUNCHER "env;NODE_PATH=/usr/share/nodejs")
endif()

# The level codec's kernel tests built for the module too, so that the SIMD
# versions only the module runs are held to the portable code's bytes as the
# native ones are (scripts/build-wasm --tests; node runs them).
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
add_executable(oct_wasm_tests EXCLUDE_FROM_ALL src/platform/wasm/module_entry.cpp tests/api/level_kernels_test.cpp)
target_link_libraries(oct_wasm_tests PRIVATE -Wl,--whole-archive octcore -Wl,--no-whole-archive GTest::gtest_main)
target_include_directories(oct_wasm_tests PRIVATE tests)
target_link_options(oct_wasm_tests PRIVATE -sSINGLE_FILE=1 -sENVIRONMENT=node -sALLOW_MEMORY_GROWTH=1
  -sMAXIMUM_MEMORY=2GB -sEXIT_RUNTIME=1)
if(EXISTS /usr/share/nodejs/acorn)
  set_target_properties(oct_wasm_tests PROPERTIES CXX_LINKER_LAUNCHER "env;NODE_PATH=/usr/share/nodejs")
endif()
