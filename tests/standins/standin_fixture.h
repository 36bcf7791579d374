// Test support for the stand-in engine: a private folder holding the transcript and the
// application bundle, and engine properties that own their strings.
#ifndef KESTRO_TESTS_STANDINS_STANDIN_FIXTURE_H_
#define KESTRO_TESTS_STANDINS_STANDIN_FIXTURE_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine_client/engine_library/flutter_desktop_api.h"

namespace kestro_standin_test {

using Lines = std::vector<std::string>;

// A private folder holding the transcript (the process's transcript variable names it while this
// object lives) and the application bundle.
class StandinFolder {
 public:
  StandinFolder() {
    static int counter = 0;
    folder_ = std::filesystem::temp_directory_path() /
              ("kestro-standin-" + std::to_string(GetCurrentProcessId()) + "-" +
               std::to_string(++counter));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    SetEnvironmentVariableW(kTranscriptVariable, (folder_ / "transcript.txt").wstring().c_str());
  }
  ~StandinFolder() {
    SetEnvironmentVariableW(kTranscriptVariable, nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  StandinFolder(const StandinFolder&) = delete;
  StandinFolder& operator=(const StandinFolder&) = delete;

  // Writes flutter_assets/, icudtl.dat and app.so holding the script to bundle (<folder>/data
  // unless given).
  std::filesystem::path WriteBundle(const std::string& script, std::filesystem::path bundle = {}) {
    if (bundle.empty()) bundle = folder_ / "data";
    std::filesystem::create_directories(bundle / "flutter_assets");
    std::ofstream(bundle / "icudtl.dat", std::ios::binary) << "icu";
    std::ofstream(bundle / "app.so", std::ios::binary) << script;
    return bundle;
  }

  // The transcript's lines, each without its readable comment (" # ...").
  std::vector<std::string> Transcript() const {
    std::ifstream file(folder_ / "transcript.txt", std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
      lines.push_back(line.substr(0, line.find(" # ")));
    }
    return lines;
  }

 protected:
  static constexpr wchar_t kTranscriptVariable[] = L"KESTRO_STANDIN_TRANSCRIPT";
  std::filesystem::path folder_;
};

class StandinTest : public ::testing::Test, public StandinFolder {};

// An engine properties record whose paths live as long as this object; no arguments.
class BundleProperties {
 public:
  BundleProperties(std::wstring assets, std::wstring icu_data, std::wstring aot_library)
      : paths_{std::move(assets), std::move(icu_data), std::move(aot_library)} {
    properties_.assets_path = paths_[0].c_str();
    properties_.icu_data_path = paths_[1].c_str();
    properties_.aot_library_path = paths_[2].c_str();
    properties_.dart_entrypoint = "";
  }
  explicit BundleProperties(const std::filesystem::path& bundle)
      : BundleProperties((bundle / "flutter_assets").wstring(), (bundle / "icudtl.dat").wstring(),
                         (bundle / "app.so").wstring()) {}
  BundleProperties(const BundleProperties&) = delete;
  BundleProperties& operator=(const BundleProperties&) = delete;

  const FlutterDesktopEngineProperties* get() const { return &properties_; }

 private:
  std::wstring paths_[3];
  FlutterDesktopEngineProperties properties_ = {};
};

}  // namespace kestro_standin_test

#endif  // KESTRO_TESTS_STANDINS_STANDIN_FIXTURE_H_
