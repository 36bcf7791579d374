// What the executables carry: kestro_pos.exe's icon group 101, manifest and version record, and
// the simulated Bluetooth stack in its twin only.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "tests/e2e/host_harness.h"

namespace kestro_e2e {
namespace {

TEST(ExecutablesTest, ResourcesAndOnlyTheTwinCarriesTheSimulator) {
  for (const wchar_t* name : {L"kestro_pos.exe", L"kestro_pos_simulated.exe"}) {
    const std::string bytes = ReadFile(BinaryFolder() + L"\\" + name);
    EXPECT_GT(bytes.size(), 100000u) << name;
    EXPECT_EQ(bytes.find("Kestro simulated Bluetooth") != std::string::npos,
              std::wstring(name) == L"kestro_pos_simulated.exe");
  }

  const std::wstring path = BinaryFolder() + L"\\kestro_pos.exe";
  const HMODULE module = ::LoadLibraryExW(
      path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(module, nullptr);
  const std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&::FreeLibrary)> library(
      module, &::FreeLibrary);
  const auto resource = [module](int type, int name) {
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(name), MAKEINTRESOURCEW(type));
    if (found == nullptr) return std::string();
    const char* bytes = static_cast<const char*>(::LockResource(::LoadResource(module, found)));
    return std::string(bytes, ::SizeofResource(module, found));
  };

  // Icon group 101 (RT_GROUP_ICON): 32-bit images from 256 down to 16 pixels. Little-endian
  // fields: a 6-byte header whose last word is the count, then 14 bytes an image.
  const std::string group = resource(14, 101);
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
    // Each image (RT_ICON) is there, and its size matches the group's record.
    EXPECT_EQ(resource(3, static_cast<int>(field(entry + 12, 2))).size(), field(entry + 8, 4));
  }
  // What the window class loads.
  EXPECT_NE(::LoadIconW(module, MAKEINTRESOURCEW(101)), nullptr);

  // The manifest (RT_MANIFEST 1): per-monitor DPI v2, run as invoker, Windows 10.
  const std::string manifest = resource(24, 1);
  for (const char* text : {">PerMonitorV2</dpiAwareness>",
                           "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>",
                           "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>"}) {
    EXPECT_NE(manifest.find(text), std::string::npos) << text;
  }

  // Version 4.0.0 build 7, in numbers and in text.
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), nullptr);
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
