# Locates every external dependency and exposes each as one imported target.
#
# libtorch is taken from the installed torch wheel. Only the ATen/c10 headers and the
# AOTInductor package loader are used, so the whole torch C++ API (and its CMake
# package, which drags in CUDA probing and heavy compile flags) stays out of the build.

find_package(Python 3.11 REQUIRED COMPONENTS Interpreter Development.Module)

execute_process(
  COMMAND "${Python_EXECUTABLE}" -c
          "import os, torch; print(os.path.dirname(torch.__file__)); print(int(torch.compiled_with_cxx11_abi()))"
  OUTPUT_VARIABLE _velmora_torch_out
  RESULT_VARIABLE _velmora_torch_rc
  OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT _velmora_torch_rc EQUAL 0)
  message(FATAL_ERROR "torch is not importable from ${Python_EXECUTABLE}; run scripts/setup.sh")
endif()
string(REPLACE "\n" ";" _velmora_torch_out "${_velmora_torch_out}")
list(GET _velmora_torch_out 0 VELMORA_TORCH_DIR)
list(GET _velmora_torch_out 1 _velmora_torch_abi)
set(VELMORA_TORCH_LIB_DIR "${VELMORA_TORCH_DIR}/lib")

add_library(velmora_aten INTERFACE)
target_include_directories(velmora_aten SYSTEM INTERFACE "${VELMORA_TORCH_DIR}/include")
target_compile_definitions(velmora_aten INTERFACE _GLIBCXX_USE_CXX11_ABI=${_velmora_torch_abi})
target_link_libraries(velmora_aten INTERFACE
  "${VELMORA_TORCH_LIB_DIR}/libtorch_cpu.so"
  "${VELMORA_TORCH_LIB_DIR}/libc10.so")
target_link_options(velmora_aten INTERFACE "LINKER:-rpath,${VELMORA_TORCH_LIB_DIR}")
# at::parallel_for is compiled into its callers: without OpenMP it runs every range on the
# calling thread. Its parallel regions must run on the tensor library's own OpenMP runtime (one
# pool for both), so the compiler's OpenMP is used for code generation and the library's
# runtime for linking.
if(EXISTS "${VELMORA_TORCH_LIB_DIR}/libgomp.so.1")
  target_compile_options(velmora_aten INTERFACE -fopenmp)
  target_link_libraries(velmora_aten INTERFACE "${VELMORA_TORCH_LIB_DIR}/libgomp.so.1")
endif()

find_package(ICU 70 REQUIRED COMPONENTS uc)
find_package(hwy REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-8)

if(VELMORA_BUILD_PYTHON)
  execute_process(
    COMMAND "${Python_EXECUTABLE}" -m nanobind --cmake_dir
    OUTPUT_VARIABLE nanobind_ROOT OUTPUT_STRIP_TRAILING_WHITESPACE)
  find_package(nanobind 2.13 CONFIG REQUIRED)
endif()

if(VELMORA_BUILD_TESTS)
  find_package(GTest 1.12 REQUIRED)
  include(GoogleTest)
endif()
