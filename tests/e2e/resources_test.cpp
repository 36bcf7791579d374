// The resources built into kestro_pos.exe: icon group 101, the manifest and the version record.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/host_harness.h"

namespace kestro_e2e {
namespace {

#pragma pack(push, 2)
struct IconGroupEntry {
  BYTE width;
  BYTE height;
  BYTE color_count;
  BYTE reserved;
  WORD planes;
  WORD bit_count;
  DWORD bytes_in_resource;
  WORD id;
};
struct IconGroupHeader {
  WORD reserved;
  WORD type;
  WORD count;
};
#pragma pack(pop)

std::wstring ExecutablePath() {
  wchar_t path[MAX_PATH];
  DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L"\\/")) + L"\\kestro_pos.exe";
}

class ResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = ::LoadLibraryExW(ExecutablePath().c_str(), nullptr,
                               LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module_, nullptr);
  }
  void TearDown() override {
    if (module_ != nullptr) ::FreeLibrary(module_);
  }

  std::string Resource(LPCWSTR type, LPCWSTR name) {
    HRSRC found = ::FindResourceW(module_, name, type);
    if (found == nullptr) return std::string();
    const char* bytes = static_cast<const char*>(::LockResource(::LoadResource(module_, found)));
    return std::string(bytes, ::SizeofResource(module_, found));
  }

  HMODULE module_ = nullptr;
};

TEST_F(ResourcesTest, IconGroup101Holds32BitImagesFrom256DownTo16Pixels) {
  const std::string group = Resource(MAKEINTRESOURCEW(14), MAKEINTRESOURCEW(101));  // RT_GROUP_ICON
  ASSERT_GE(group.size(), sizeof(IconGroupHeader));
  const auto* header = reinterpret_cast<const IconGroupHeader*>(group.data());
  ASSERT_EQ(header->count, 6);
  ASSERT_EQ(group.size(), sizeof(IconGroupHeader) + 6 * sizeof(IconGroupEntry));
  const auto* entries = reinterpret_cast<const IconGroupEntry*>(header + 1);
  const int expected_sizes[] = {256, 128, 64, 48, 32, 16};
  for (int i = 0; i < 6; ++i) {
    const int size = entries[i].width == 0 ? 256 : entries[i].width;
    EXPECT_EQ(size, expected_sizes[i]);
    EXPECT_EQ(entries[i].height, entries[i].width);
    EXPECT_EQ(entries[i].bit_count, 32);
    // Each image is there, and its size matches the group's record.
    EXPECT_EQ(Resource(MAKEINTRESOURCEW(3), MAKEINTRESOURCEW(entries[i].id)).size(),  // RT_ICON
              entries[i].bytes_in_resource);
  }
  // What the window class loads.
  EXPECT_NE(::LoadIconW(module_, MAKEINTRESOURCEW(101)), nullptr);
}

TEST_F(ResourcesTest, ManifestDeclaresPerMonitorV2AsInvokerAndWindows10) {
  const std::string manifest = Resource(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1));  // RT_MANIFEST
  const char* required[] = {
      ">PerMonitorV2</dpiAwareness>",
      "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>",
      "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>",
  };
  for (const char* text : required) {
    EXPECT_NE(manifest.find(text), std::string::npos) << text;
  }
}

TEST_F(ResourcesTest, VersionIs4_0_0Build7) {
  const std::wstring path = ExecutablePath();
  DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), nullptr);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> info(size);
  ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixed_size = 0;
  ASSERT_TRUE(::VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixed_size));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00040000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000007u);
  for (const wchar_t* key : {L"\\StringFileInfo\\040904e4\\FileVersion",
                             L"\\StringFileInfo\\040904e4\\ProductVersion"}) {
    wchar_t* text = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(info.data(), key, reinterpret_cast<void**>(&text), &length));
    EXPECT_EQ(std::wstring(text), L"4.0.0+7") << key;
  }
}

}  // namespace
}  // namespace kestro_e2e
