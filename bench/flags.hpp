#pragma once

// The switches every native driver may take besides its positional arguments.

#include <cstring>

namespace bench {

/// Removes every `flag` from the arguments; true when it was there.
inline bool take_flag(int& argc, char** argv, const char* flag) {
  bool found = false;
  int kept = 0;
  for (int i = 0; i < argc; ++i) {
    if (i > 0 && std::strcmp(argv[i], flag) == 0) {
      found = true;
      continue;
    }
    argv[kept++] = argv[i];
  }
  argc = kept;
  return found;
}

/// Removes "--native-only" from the arguments: when it was there, the driver times only the
/// native side and leaves out its baselines' result lines (their bundles and checks stay).
inline bool take_native_only(int& argc, char** argv) { return take_flag(argc, argv, "--native-only"); }

}  // namespace bench
