// The DLL's version resource, read back the way Windows shows it in the
// file's properties.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

class VersionResource : public testing::Test {
 protected:
  void SetUp() override {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(QUORVIX_MODULE_FILE, &ignored);
    ASSERT_NE(size, 0u) << QUORVIX_MODULE_FILE << " has no version resource (error " << GetLastError() << ")";
    data_.resize(size);
    ASSERT_TRUE(GetFileVersionInfoA(QUORVIX_MODULE_FILE, 0, size, data_.data()));
  }

  std::string Text(const char* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueA(data_.data(), path.c_str(), &value, &length) || length == 0) return "(missing)";
    return static_cast<const char*>(value);
  }

  std::vector<char> data_;
};

TEST_F(VersionResource, CarriesTheProjectVersion) {
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(data_.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, DWORD{QUORVIX_VERSION_MAJOR} << 16 | QUORVIX_VERSION_MINOR);
  EXPECT_EQ(fixed->dwFileVersionLS, DWORD{QUORVIX_VERSION_PATCH} << 16);
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
  EXPECT_EQ(fixed->dwFileType, DWORD{VFT_DLL});
  EXPECT_EQ(Text("FileVersion"), QUORVIX_VERSION);
  EXPECT_EQ(Text("ProductVersion"), QUORVIX_VERSION);
  EXPECT_EQ(Text("ProductName"), "Quorvix");
  EXPECT_EQ(Text("OriginalFilename"), "Quorvix.rpi");
}

}  // namespace
