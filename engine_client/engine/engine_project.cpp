#include "engine_client/engine/engine_project.h"

namespace flutter {

EngineProject::EngineProject(const std::wstring& bundle_directory)
    : assets_path_(bundle_directory + L"\\flutter_assets"),
      icu_data_path_(bundle_directory + L"\\icudtl.dat"),
      aot_library_path_(bundle_directory + L"\\app.so") {}

}  // namespace flutter
