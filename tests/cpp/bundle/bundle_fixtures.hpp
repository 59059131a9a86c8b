#pragma once

// Writes test bundles through the shared Python bundle writer (tests/support) in one
// interpreter run, so that C++ and Python tests read bundles made the same way.

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace velmora::testing {

/// One bundle to write: a directory name and the Python source of the body of a call
/// that writes it, e.g. `write_bundle(root / "x", T, A, processor="pos")`.
struct PythonBundle {
  std::string name;
  std::string call;
};

/// A fresh temporary directory, removed on destruction.
class TempDir {
 public:
  explicit TempDir(const std::string& tag)
      : path_(std::filesystem::temp_directory_path() /
              ("velmora_" + tag + "_" + std::to_string(::getpid()))) {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

/// Runs `prelude` and then each call with `root` bound to the directory and the writer's
/// functions imported; fails the current test when the interpreter fails.
inline void write_python_bundles(const std::filesystem::path& root, const std::string& prelude,
                                 const std::vector<PythonBundle>& bundles) {
  std::string program = "import pathlib, sys, torch\nsys.path.insert(0, '" +
                        std::string(VELMORA_SOURCE_DIR) +
                        "/tests/support')\nfrom bundle_writer import *\nroot = pathlib.Path('" +
                        root.string() + "')\n" + prelude + "\n";
  for (const PythonBundle& bundle : bundles) program += bundle.call + "\n";
  const std::filesystem::path script = root / "write_bundles.py";
  std::ofstream(script) << program;
  const std::string command = std::string(VELMORA_PYTHON) + " " + script.string();
  ASSERT_EQ(std::system(command.c_str()), 0) << program;
}

inline void write_file(const std::filesystem::path& path, const std::string& content) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

}  // namespace velmora::testing
