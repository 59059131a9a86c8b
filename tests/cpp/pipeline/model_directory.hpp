#pragma once

// A temporary model directory for pipeline tests, filled by the Python test bundle library
// (tests/support) run through the build's interpreter.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace velmora::pipeline_test {

class TemporaryModelDirectory {
 public:
  TemporaryModelDirectory() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "velmora-pipeline-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
  }
  ~TemporaryModelDirectory() { std::filesystem::remove_all(root_); }
  TemporaryModelDirectory(const TemporaryModelDirectory&) = delete;
  TemporaryModelDirectory& operator=(const TemporaryModelDirectory&) = delete;

  const std::filesystem::path& root() const { return root_; }

  /// Runs Python `statements` with the test support modules importable and `root` bound to
  /// the model directory (a pathlib.Path); true when the script succeeds.
  bool run_python(const std::string& statements) const {
    const std::filesystem::path script = root_ / "write_models.py";
    std::ofstream(script) << "import pathlib, sys\n"
                          << "sys.path.insert(0, r'" VELMORA_SOURCE_DIR "/tests/support')\n"
                          << "root = pathlib.Path(r'" << root_.string() << "')\n"
                          << statements << "\n";
    const std::string command =
        "OMP_NUM_THREADS=1 " + std::string(VELMORA_PYTHON) + " " + script.string();
    return std::system(command.c_str()) == 0;
  }

 private:
  std::filesystem::path root_;
};

}  // namespace velmora::pipeline_test
