// Default sanitizer settings of the test binaries, built in so that every way of running a test
// (ctest, a debugger, the binary alone) uses the same ones. libtorch is not built with our
// allocator pairing in mind, so mismatched new/free across its boundary is not reported.
extern "C" const char* __asan_default_options() {
  return "detect_leaks=1:alloc_dealloc_mismatch=0";
}

extern "C" const char* __ubsan_default_options() { return "print_stacktrace=1"; }
