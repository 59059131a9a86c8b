#pragma once

// The files a C++ test suite reads, written by tests/support/write_cpp_test_data.py: under ctest
// a fixture writes them once per run into the build tree; a test binary run on its own writes
// its suite's files itself, once per process, into a temporary directory removed at exit.

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>

namespace velmora::testing {

class SuiteTestData {
 public:
  /// The folder of `suite` (one of the script's suites); it holds an empty file "complete"
  /// when the script succeeded.
  static const std::filesystem::path& dir(const std::string& suite) {
    static std::map<std::string, std::unique_ptr<SuiteTestData>> written;
    auto& data = written[suite];
    if (!data) data.reset(new SuiteTestData(suite));
    return data->dir_;
  }

  static bool complete(const std::string& suite) { return std::filesystem::exists(dir(suite) / "complete"); }

  ~SuiteTestData() {
    if (!owned_root_.empty()) std::filesystem::remove_all(owned_root_);
  }
  SuiteTestData(const SuiteTestData&) = delete;
  SuiteTestData& operator=(const SuiteTestData&) = delete;

 private:
  explicit SuiteTestData(const std::string& suite) {
    const std::filesystem::path fixture = std::filesystem::path(VELMORA_TEST_DATA_DIR) / suite;
    if (std::filesystem::exists(fixture / "complete")) {
      dir_ = fixture;
      return;
    }
    std::random_device seed;
    owned_root_ = std::filesystem::temp_directory_path() / ("velmora-test-data-" + std::to_string(seed()));
    dir_ = owned_root_ / suite;
    const std::string script = std::string(VELMORA_SOURCE_DIR) + "/tests/support/write_cpp_test_data.py";
    // One intra-op thread: the machine is shared with other test processes.
    const std::string command = "OMP_NUM_THREADS=1 '" + std::string(VELMORA_PYTHON) + "' '" + script + "' '" +
                                owned_root_.string() + "' " + suite + " --aoti-packages '" +
                                VELMORA_AOTI_PACKAGE_DIR + "'";
    // A failure leaves no "complete" file, which the suites check.
    (void)std::system(command.c_str());
  }

  std::filesystem::path dir_;
  std::filesystem::path owned_root_;
};

}  // namespace velmora::testing
