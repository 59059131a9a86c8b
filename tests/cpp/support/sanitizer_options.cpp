// Default sanitizer settings of the test binaries, built in so that every way of running a test
// (ctest, a debugger, the binary alone) uses the same ones. libtorch is not built with our
// allocator pairing in mind, so mismatched new/free across its boundary is not reported.
//
// intercept_tls_get_addr=0: the leak checker of this toolchain (GCC 12's sanitizer runtime) sizes
// each dynamic thread-local block by guessing at a glibc 2.19 header in front of it. glibc 2.36
// has no such header; when a block that it allocates for a dlopen'ed library (the compiled
// transformer package) lands 16 bytes into a page, the guess reads the sanitizer's own chunk
// header instead and hands the leak scan a nonsense range, and the scan dies on it at exit.
// Without the interception those blocks are still scanned: they are allocations of the dynamic
// linker, which the leak checker treats as live roots. Leak detection itself stays on.
extern "C" const char* __asan_default_options() {
  return "detect_leaks=1:alloc_dealloc_mismatch=0:intercept_tls_get_addr=0";
}

extern "C" const char* __ubsan_default_options() { return "print_stacktrace=1"; }
