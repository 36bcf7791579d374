// The resources built into kestro_pos.exe: icon group 101, the manifest and the version record.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/host_harness.h"

namespace kestro_e2e {
namespace {

std::wstring ExecutablePath() { return BinaryFolder() + L"\\kestro_pos.exe"; }

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
  // Little-endian fields: a 6-byte header whose last word is the count, then 14 bytes an image.
  const auto field = [&group](size_t at, int width) {
    uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = (value << 8) | static_cast<uint8_t>(group[at + i]);
    return value;
  };
  ASSERT_EQ(group.size(), 6u + 6 * 14);
  ASSERT_EQ(field(4, 2), 6u);
  const uint32_t expected_sizes[] = {256, 128, 64, 48, 32, 16};
  for (size_t i = 0; i < 6; ++i) {
    const size_t entry = 6 + 14 * i;
    EXPECT_EQ(field(entry, 1) == 0 ? 256u : field(entry, 1), expected_sizes[i]);  // width
    EXPECT_EQ(field(entry + 1, 1), field(entry, 1));                              // height
    EXPECT_EQ(field(entry + 6, 2), 32u);                                          // bits a pixel
    // Each image is there, and its size matches the group's record.
    EXPECT_EQ(Resource(MAKEINTRESOURCEW(3), MAKEINTRESOURCEW(field(entry + 12, 2))).size(),
              field(entry + 8, 4));  // RT_ICON
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
