// wimgapi.dll: binding, opening and creating files, handles, attributes,
// loading images, and bad input.
#include <gtest/gtest.h>

#include "harness.h"
#include "wimgapi_client.h"

using namespace wgt;

namespace {

class WimgapiFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(W().module, nullptr) << "wimgapi.dll is not installed in the Wine prefix";
    dir_ = qtest::TempDir();
    src_ = dir_ + L"\\src";
    qtest::MakeSampleTree(src_);
  }
  std::wstring dir_, src_;
};

TEST_F(WimgapiFiles, EveryFunctionTheProgramBindsIsExported) {
  const char* names[] = {"WIMCreateFile", "WIMMountImageHandle", "WIMUnmountImageHandle",
                         "WIMGetMountedImageHandle", "WIMCommitImageHandle", "WIMSetTemporaryPath",
                         "WIMCloseHandle", "WIMLoadImage", "WIMRegisterMessageCallback", "WIMMountImage",
                         "WIMApplyImage", "WIMGetAttributes", "WIMSetReferenceFile",
                         "WIMUnregisterMessageCallback", "WIMCaptureImage", "WIMSetBootImage",
                         "WIMGetImageInformation", "WIMExportImage", "WIMSplitFile", "WIMSetImageInformation",
                         "WIMDeleteImage", "WIMGetMountedImages", "WIMUnmountImage"};
  for (const char* name : names) EXPECT_NE(GetProcAddress(W().module, name), nullptr) << name;
  // It is the prefix's system copy, not something beside the program.
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(W().module, path, MAX_PATH);
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  EXPECT_EQ(CompareStringOrdinal(path, static_cast<int>(wcslen(system)), system, -1, TRUE), CSTR_EQUAL)
      << qtest::Utf8(path);
}

TEST_F(WimgapiFiles, DispositionsCreateOpenAndRefuseAsPublished) {
  const std::wstring wim = dir_ + L"\\a.wim";
  DWORD created = 99;

  // Opening a missing file: 2, or 3 when even its folder is missing.
  SetLastError(0);
  EXPECT_EQ(W().CreateFile(wim.c_str(), WIM_GENERIC_READ, WIM_OPEN_EXISTING, 0, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(W().CreateFile((dir_ + L"\\nope\\a.wim").c_str(), WIM_GENERIC_WRITE, WIM_CREATE_NEW, 0, 1, nullptr),
            nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

  // CREATE_NEW on a missing file, closed without an image: an empty WIM.
  {
    Handle h(W().CreateFile(wim.c_str(), WIM_GENERIC_WRITE, WIM_CREATE_NEW, 0, WIM_COMPRESS_LZX, &created));
    ASSERT_TRUE(h);
    EXPECT_EQ(created, static_cast<DWORD>(WIM_CREATED_NEW));
  }
  std::string info = Imagex("info " + Q(wim));
  EXPECT_EQ(InfoField(info, "Image Count"), "0");
  EXPECT_EQ(InfoField(info, "Compression"), "LZX");

  // CREATE_NEW on the existing file: 80.
  EXPECT_EQ(W().CreateFile(wim.c_str(), WIM_GENERIC_WRITE, WIM_CREATE_NEW, 0, 1, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);

  // OPEN_ALWAYS and OPEN_EXISTING find it.
  {
    Handle h(W().CreateFile(wim.c_str(), WIM_GENERIC_READ | WIM_GENERIC_WRITE, WIM_OPEN_ALWAYS, 0, 0, &created));
    ASSERT_TRUE(h);
    EXPECT_EQ(created, static_cast<DWORD>(WIM_OPENED_EXISTING));
  }
  // OPEN_ALWAYS on a missing file creates it with the given compression.
  const std::wstring other = dir_ + L"\\b.wim";
  ASSERT_EQ(Capture(src_, other, WIM_COMPRESS_NONE, /*append=*/true), 1);
  EXPECT_EQ(InfoField(Imagex("info " + Q(other)), "Compression"), "None");

  // CREATE_ALWAYS replaces an existing file.
  ASSERT_EQ(Capture(src_, other, WIM_COMPRESS_XPRESS), 1);
  ASSERT_EQ(Capture(src_, other, WIM_COMPRESS_XPRESS, true), 2);
  ASSERT_EQ(Capture(src_, other, WIM_COMPRESS_LZMS), 1);
  info = Imagex("info " + Q(other));
  EXPECT_EQ(InfoField(info, "Image Count"), "1");
  EXPECT_EQ(InfoField(info, "Compression"), "LZMS");
  Imagex("verify " + Q(other));
}

TEST_F(WimgapiFiles, BadArgumentsAndBadFilesFailCleanly) {
  const std::wstring wim = dir_ + L"\\a.wim";
  // Unknown disposition, no access, unknown compression for a new file.
  EXPECT_EQ(W().CreateFile(wim.c_str(), WIM_GENERIC_WRITE, 7, 0, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(W().CreateFile(wim.c_str(), 0, WIM_CREATE_NEW, 0, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(W().CreateFile(wim.c_str(), WIM_GENERIC_WRITE, WIM_CREATE_NEW, 0, 9, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(W().CreateFile(nullptr, WIM_GENERIC_READ, WIM_OPEN_EXISTING, 0, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  // A folder is not a WIM file.
  EXPECT_EQ(W().CreateFile(src_.c_str(), WIM_GENERIC_READ, WIM_OPEN_EXISTING, 0, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(Exists(wim));

  // A file that is not a WIM file, and a truncated WIM file.
  const std::wstring text = dir_ + L"\\text.wim";
  ASSERT_TRUE(qtest::WriteFileBytes(text, std::string(4096, 'x')));
  EXPECT_EQ(W().CreateFile(text.c_str(), WIM_GENERIC_READ, WIM_OPEN_EXISTING, 0, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);

  ASSERT_EQ(Capture(src_, wim), 1);
  std::string bytes = qtest::ReadFileBytes(wim);
  const std::wstring cut = dir_ + L"\\cut.wim";
  for (size_t keep : {size_t(100), bytes.size() / 2, bytes.size() - 100}) {
    ASSERT_TRUE(qtest::WriteFileBytes(cut, bytes.substr(0, keep)));
    HANDLE h = W().CreateFile(cut.c_str(), WIM_GENERIC_READ, WIM_OPEN_EXISTING, 0, 0, nullptr);
    if (!h) {
      EXPECT_EQ(GetLastError(), ERROR_FILE_CORRUPT) << keep;
      continue;
    }
    // Opened (the header and tables survived): the image itself fails.
    HANDLE image = W().LoadImage(h, 1);
    if (image) {
      std::wstring out = dir_ + L"\\cutout";
      EXPECT_FALSE(W().ApplyImage(image, out.c_str(), 0)) << keep;
      W().CloseHandle(image);
    }
    W().CloseHandle(h);
  }
}

TEST_F(WimgapiFiles, HandlesAreValidatedAndCanBeClosedInAnyOrder) {
  const std::wstring wim = dir_ + L"\\a.wim";
  ASSERT_EQ(Capture(src_, wim), 1);
  WIM_INFO info;
  HANDLE garbage[] = {nullptr, INVALID_HANDLE_VALUE, reinterpret_cast<HANDLE>(0x1234),
                      reinterpret_cast<HANDLE>(&info), GetCurrentProcess()};
  for (HANDLE h : garbage) {
    SetLastError(0);
    EXPECT_FALSE(W().GetAttributes(h, &info, sizeof info));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(W().LoadImage(h, 1), nullptr);
    EXPECT_FALSE(W().ApplyImage(h, dir_.c_str(), 0));
    EXPECT_EQ(W().CaptureImage(h, src_.c_str(), 0), nullptr);
    EXPECT_FALSE(W().CloseHandle(h));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }

  HANDLE file = W().CreateFile(wim.c_str(), WIM_GENERIC_READ, WIM_OPEN_EXISTING, 0, 0, nullptr);
  ASSERT_NE(file, nullptr);
  HANDLE image = W().LoadImage(file, 1);
  ASSERT_NE(image, nullptr);
  // A file handle is not an image handle and the other way round.
  EXPECT_FALSE(W().ApplyImage(file, dir_.c_str(), 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(W().GetAttributes(image, &info, sizeof info));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  // The file handle first: the image still works, then both are stale.
  EXPECT_TRUE(W().CloseHandle(file));
  const std::wstring out = dir_ + L"\\out";
  EXPECT_TRUE(W().ApplyImage(image, out.c_str(), 0)) << GetLastError();
  EXPECT_EQ(qtest::ReadFileBytes(out + L"\\small.txt"), "hello quarry\n");
  EXPECT_TRUE(W().CloseHandle(image));
  EXPECT_FALSE(W().CloseHandle(image));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(W().GetAttributes(file, &info, sizeof info));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(WimgapiFiles, AttributesDescribeTheFile) {
  const std::wstring wim = dir_ + L"\\a.wim";
  ASSERT_EQ(Capture(src_, wim, WIM_COMPRESS_LZX), 1);
  ASSERT_EQ(Capture(src_, wim, WIM_COMPRESS_LZX, true), 2);
  Handle file = Open(wim, WIM_GENERIC_READ | WIM_GENERIC_WRITE, WIM_OPEN_EXISTING);
  ASSERT_TRUE(W().SetBootImage(file.get(), 2)) << GetLastError();

  WIM_INFO info;
  memset(&info, 0xCC, sizeof info);
  EXPECT_FALSE(W().GetAttributes(file.get(), &info, 100));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  ASSERT_TRUE(W().GetAttributes(file.get(), &info, sizeof info));
  wchar_t full[MAX_PATH];
  GetFullPathNameW(wim.c_str(), MAX_PATH, full, nullptr);
  EXPECT_STREQ(info.WimPath, full);
  EXPECT_EQ(info.ImageCount, 2u);
  EXPECT_EQ(info.CompressionType, static_cast<DWORD>(WIM_COMPRESS_LZX));
  EXPECT_EQ(info.PartNumber, 1);
  EXPECT_EQ(info.TotalParts, 1);
  EXPECT_EQ(info.BootIndex, 2u);
  EXPECT_EQ(info.WimAttributes & (WIM_ATTRIBUTE_SPANNED | WIM_ATTRIBUTE_READONLY), 0u);

  // The GUID is the file's own, as wimlib-imagex reads it.
  char guid[40];
  const BYTE* g = reinterpret_cast<const BYTE*>(&info.Guid);
  for (int i = 0; i < 16; ++i) sprintf(guid + 2 * i, "%02x", g[i]);
  std::string oracle = Imagex("info " + Q(wim));
  EXPECT_EQ(InfoField(oracle, "GUID"), std::string("0x") + guid);
  EXPECT_EQ(InfoField(oracle, "Boot Index"), "2");

  // Verify: the integrity table is written and reported.
  file.Reset();
  {
    Handle h = Open(wim, WIM_GENERIC_READ | WIM_GENERIC_WRITE, WIM_OPEN_EXISTING, WIM_FLAG_VERIFY);
    ASSERT_TRUE(W().SetBootImage(h.get(), 1));
  }
  Handle verified = Open(wim, WIM_GENERIC_READ, WIM_OPEN_EXISTING, WIM_FLAG_VERIFY);
  ASSERT_TRUE(W().GetAttributes(verified.get(), &info, sizeof info));
  EXPECT_TRUE(info.WimAttributes & WIM_ATTRIBUTE_VERIFY_DATA);
  EXPECT_EQ(info.WimFlagsAndAttr, static_cast<DWORD>(WIM_FLAG_VERIFY));
  EXPECT_NE(Imagex("info " + Q(wim)).find("Integrity info"), std::string::npos);
}

TEST_F(WimgapiFiles, ImagesLoadByIndexOnly) {
  const std::wstring wim = dir_ + L"\\a.wim";
  ASSERT_EQ(Capture(src_, wim), 1);
  Handle file = Open(wim, WIM_GENERIC_READ, WIM_OPEN_EXISTING);
  for (DWORD bad : {0u, 2u, 0xFFFFFFFFu}) {
    SetLastError(0);
    EXPECT_EQ(W().LoadImage(file.get(), bad), nullptr) << bad;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
  Handle image(W().LoadImage(file.get(), 1));
  EXPECT_TRUE(image);
}

TEST_F(WimgapiFiles, AReadOnlyFileIsNeverChanged) {
  const std::wstring wim = dir_ + L"\\a.wim";
  ASSERT_EQ(Capture(src_, wim), 1);
  const std::string before = qtest::ReadFileBytes(wim);
  {
    Handle file = Open(wim, WIM_GENERIC_READ, WIM_OPEN_EXISTING);
    EXPECT_EQ(W().CaptureImage(file.get(), src_.c_str(), 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(W().SetBootImage(file.get(), 1));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(W().DeleteImage(file.get(), 1));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    Handle image(W().LoadImage(file.get(), 1));
    const wchar_t xml[] = L"\xFEFF<IMAGE INDEX=\"1\"><NAME>x</NAME></IMAGE>";
    EXPECT_FALSE(W().SetImageInformation(image.get(), const_cast<wchar_t*>(xml), sizeof(xml) - 2));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    const std::wstring out = dir_ + L"\\out";
    EXPECT_TRUE(W().ApplyImage(image.get(), out.c_str(), 0));
  }
  EXPECT_EQ(qtest::ReadFileBytes(wim), before);
}

TEST_F(WimgapiFiles, TemporaryPathMustBeAFolder) {
  Handle file = Open(dir_ + L"\\a.wim", WIM_GENERIC_WRITE, WIM_CREATE_NEW);
  EXPECT_TRUE(W().SetTemporaryPath(file.get(), dir_.c_str()));
  EXPECT_FALSE(W().SetTemporaryPath(file.get(), (dir_ + L"\\missing").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(W().SetTemporaryPath(file.get(), nullptr));
  EXPECT_FALSE(W().SetTemporaryPath(nullptr, dir_.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(WimgapiFiles, SecondWriterInTheSameProcessIsRefused) {
  const std::wstring wim = dir_ + L"\\a.wim";
  ASSERT_EQ(Capture(src_, wim), 1);
  Handle writer = Open(wim, WIM_GENERIC_WRITE, WIM_OPEN_EXISTING);
  EXPECT_EQ(W().CreateFile(wim.c_str(), WIM_GENERIC_WRITE, WIM_OPEN_EXISTING, 0, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  Handle reader = Open(wim, WIM_GENERIC_READ, WIM_OPEN_EXISTING);
  EXPECT_TRUE(reader);
}

}  // namespace
