// Where the application bundle lies and what the Dart entrypoint receives; copied by value.
#ifndef KESTRO_ENGINE_CLIENT_ENGINE_ENGINE_PROJECT_H_
#define KESTRO_ENGINE_CLIENT_ENGINE_ENGINE_PROJECT_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace flutter {

class EngineProject {
 public:
  // Paths are formed from the bundle directory and stay as given (relative paths are resolved
  // by the engine library against the executable's folder).
  explicit EngineProject(const std::wstring& bundle_directory);

  const std::wstring& assets_path() const { return assets_path_; }
  const std::wstring& icu_data_path() const { return icu_data_path_; }
  const std::wstring& aot_library_path() const { return aot_library_path_; }
  const std::string& dart_entrypoint() const { return dart_entrypoint_; }
  const std::vector<std::string>& dart_entrypoint_arguments() const {
    return dart_entrypoint_arguments_;
  }
  const std::array<int32_t, 4>& option_values() const { return option_values_; }

  // Replaces the entrypoint arguments (UTF-8 strings, in order).
  void set_dart_entrypoint_arguments(std::vector<std::string> arguments) {
    dart_entrypoint_arguments_ = std::move(arguments);
  }

 private:
  std::wstring assets_path_;
  std::wstring icu_data_path_;
  std::wstring aot_library_path_;
  std::string dart_entrypoint_;
  std::vector<std::string> dart_entrypoint_arguments_;
  std::array<int32_t, 4> option_values_{};
};

}  // namespace flutter

#endif  // KESTRO_ENGINE_CLIENT_ENGINE_ENGINE_PROJECT_H_
