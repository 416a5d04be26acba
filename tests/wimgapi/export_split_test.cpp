// wimgapi.dll: export, split, referenced parts, delete and boot image.
#include <gtest/gtest.h>

#include <algorithm>

#include "harness.h"
#include "wimgapi_client.h"

using namespace wgt;

namespace {

class WimgapiExport : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(W().module, nullptr);
    dir_ = qtest::TempDir();
    src_ = dir_ + L"\\src";
    qtest::MakeSampleTree(src_);
    // Incompressible files of 100000 bytes each: resources of known size.
    for (int i = 0; i < 10; ++i) MakeRandomFile(src_ + L"\\r" + std::to_wstring(i) + L".bin", 100000, i + 11);
    wim_ = dir_ + L"\\a.wim";
    ASSERT_EQ(Capture(src_, wim_, WIM_COMPRESS_XPRESS), 1);
    ASSERT_EQ(Capture(src_ + L"\\sub", wim_, WIM_COMPRESS_XPRESS, true), 2);
    SetName(wim_, 1, L"First");
    SetName(wim_, 2, L"Second");
  }
  static void SetName(const std::wstring& wim, int index, const std::wstring& name) {
    Handle file = Open(wim, WIM_GENERIC_READ | WIM_GENERIC_WRITE, WIM_OPEN_EXISTING);
    Handle image(W().LoadImage(file.get(), index));
    std::wstring xml = L"\xFEFF<IMAGE INDEX=\"" + std::to_wstring(index) + L"\"><NAME>" + name + L"</NAME></IMAGE>";
    ASSERT_TRUE(W().SetImageInformation(image.get(), &xml[0], static_cast<DWORD>(xml.size() * 2))) << GetLastError();
  }
  // Exports image index of wim_ into dest; returns the result and error.
  BOOL Export(int index, const std::wstring& dest, DWORD flags, DWORD compression = WIM_COMPRESS_LZX,
              Recorder* rec = nullptr) {
    Handle source = Open(wim_, WIM_GENERIC_READ, WIM_OPEN_EXISTING);
    Handle image(W().LoadImage(source.get(), index));
    bool exists = Exists(dest);
    Handle target = Open(dest, WIM_GENERIC_READ | WIM_GENERIC_WRITE, exists ? WIM_OPEN_EXISTING : WIM_CREATE_NEW,
                         0, compression);
    if (rec) W().RegisterMessageCallback(target.get(), RecordingProc(), rec);
    BOOL ok = W().ExportImage(image.get(), target.get(), flags);
    DWORD err = GetLastError();
    target.Reset();
    image.Reset();
    source.Reset();
    SetLastError(err);
    return ok;
  }
  std::wstring dir_, src_, wim_;
};

TEST_F(WimgapiExport, ExportCreatesAndAppendsWithDuplicatesAllowed) {
  const std::wstring dest = dir_ + L"\\merged.wim";
  Recorder rec;
  ASSERT_TRUE(Export(2, dest, WIM_EXPORT_ALLOW_DUPLICATES, WIM_COMPRESS_LZX, &rec)) << GetLastError();
  std::string info = Imagex("info " + Q(dest));
  EXPECT_EQ(InfoField(info, "Compression"), "LZX");   // new file: the given type
  EXPECT_EQ(InfoField(info, "Name", 1), "Second");
  ASSERT_FALSE(rec.Percentages().empty());
  EXPECT_EQ(rec.Percentages().back(), 100);
  std::vector<std::wstring> processed = rec.Paths(WIM_MSG_PROCESS);
  EXPECT_NE(std::find(processed.begin(), processed.end(), L"\\big.bin"), processed.end());

  ASSERT_TRUE(Export(1, dest, WIM_EXPORT_ALLOW_DUPLICATES, WIM_COMPRESS_NONE));
  // The same image once more: allowed, under a name of its own.
  ASSERT_TRUE(Export(1, dest, WIM_EXPORT_ALLOW_DUPLICATES));
  info = Imagex("info " + Q(dest));
  EXPECT_EQ(InfoField(info, "Image Count"), "3");
  EXPECT_EQ(InfoField(info, "Compression"), "LZX");   // existing file keeps its type
  EXPECT_EQ(InfoField(info, "Name", 2), "First");
  EXPECT_EQ(InfoField(info, "Name", 3), "First (2)");
  Imagex("verify " + Q(dest));
  EXPECT_EQ(DirList(dest, 3), DirList(wim_, 1));

  // Without the flag, an image of the same name is refused.
  EXPECT_FALSE(Export(1, dest, 0));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(ImageCount(dest), 3);
}

TEST_F(WimgapiExport, AbortedExportLeavesTheDestinationAsItWas) {
  const std::wstring dest = dir_ + L"\\merged.wim";
  Recorder rec;
  rec.handler = [](DWORD msg, WPARAM, LPARAM) { return msg == WIM_MSG_PROCESS ? WIM_MSG_ABORT_IMAGE : 0u; };
  EXPECT_FALSE(Export(1, dest, WIM_EXPORT_ALLOW_DUPLICATES, WIM_COMPRESS_LZX, &rec));
  EXPECT_EQ(GetLastError(), ERROR_REQUEST_ABORTED);
  EXPECT_FALSE(Exists(dest));

  ASSERT_TRUE(Export(2, dest, WIM_EXPORT_ALLOW_DUPLICATES));
  const std::string before = qtest::ReadFileBytes(dest);
  Recorder late;
  late.handler = [](DWORD msg, WPARAM w, LPARAM) { return msg == WIM_MSG_PROGRESS && w > 0 ? WIM_MSG_ABORT_IMAGE : 0u; };
  EXPECT_FALSE(Export(1, dest, WIM_EXPORT_ALLOW_DUPLICATES, WIM_COMPRESS_LZX, &late));
  EXPECT_EQ(GetLastError(), ERROR_REQUEST_ABORTED);
  EXPECT_EQ(qtest::ReadFileBytes(dest), before);
  Imagex("verify " + Q(dest));
}

TEST_F(WimgapiExport, ExportRefusesWhatItCannotDo) {
  Handle source = Open(wim_, WIM_GENERIC_READ, WIM_OPEN_EXISTING);
  Handle image(W().LoadImage(source.get(), 1));
  Handle readOnly = Open(wim_, WIM_GENERIC_READ, WIM_OPEN_EXISTING);
  EXPECT_FALSE(W().ExportImage(image.get(), readOnly.get(), WIM_EXPORT_ALLOW_DUPLICATES));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  Handle dest = Open(dir_ + L"\\d.wim", WIM_GENERIC_READ | WIM_GENERIC_WRITE, WIM_CREATE_NEW);
  EXPECT_FALSE(W().ExportImage(image.get(), dest.get(), WIM_EXPORT_ONLY_RESOURCES));
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  EXPECT_FALSE(W().ExportImage(source.get(), dest.get(), 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(W().ExportImage(image.get(), image.get(), 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(WimgapiExport, SplitNamesPartsLikeWindowsAndReportsEachPart) {
  const std::wstring first = dir_ + L"\\parts\\set.swm";
  qtest::MakeDirs(dir_ + L"\\parts");
  Recorder rec;
  std::vector<LONGLONG> sizes;   // what lParam of WIM_MSG_SPLIT points to
  rec.handler = [&](DWORD msg, WPARAM, LPARAM lparam) -> DWORD {
    if (msg == WIM_MSG_SPLIT) sizes.push_back(reinterpret_cast<PLARGE_INTEGER>(lparam)->QuadPart);
    return WIM_MSG_SUCCESS;
  };
  Handle file = Open(wim_, WIM_GENERIC_READ, WIM_OPEN_EXISTING, WIM_FLAG_VERIFY);
  W().RegisterMessageCallback(file.get(), RecordingProc(), &rec);
  LARGE_INTEGER size;
  size.QuadPart = 400000;
  ASSERT_TRUE(W().SplitFile(file.get(), first.c_str(), &size, 0)) << GetLastError();
  file.Reset();

  std::vector<std::wstring> parts = rec.Paths(WIM_MSG_SPLIT);
  ASSERT_GE(parts.size(), 3u);
  EXPECT_EQ(parts[0], first);
  for (size_t n = 2; n <= parts.size(); ++n) {
    EXPECT_EQ(parts[n - 1], dir_ + L"\\parts\\set" + std::to_wstring(n) + L".swm");
    EXPECT_TRUE(Exists(parts[n - 1]));
  }
  EXPECT_EQ(sizes, std::vector<LONGLONG>(parts.size(), 400000));
  ASSERT_FALSE(rec.Percentages().empty());
  EXPECT_EQ(rec.Percentages().back(), 100);

  std::string info = Imagex("info " + Q(first));
  EXPECT_EQ(InfoField(info, "Part Number"), "1/" + std::to_string(parts.size()));
  // The set applies with wimlib-imagex, and every part keeps to the size.
  const std::wstring out = dir_ + L"\\out";
  Imagex("apply " + Q(first) + " 1 " + Q(out) + " --ref=" + qtest::ShQuote(qtest::UnixPath(dir_) + "/parts/set*.swm"));
  EXPECT_EQ(qtest::ReadFileBytes(out + L"\\r3.bin"), qtest::ReadFileBytes(src_ + L"\\r3.bin"));
  for (const auto& p : parts) EXPECT_LE(qtest::ReadFileBytes(p).size(), 400000u + 16384u);

  // Through this library: apply the first part with the others referenced.
  Handle set = Open(first, WIM_GENERIC_READ, WIM_OPEN_EXISTING);
  WIM_INFO wi;
  ASSERT_TRUE(W().GetAttributes(set.get(), &wi, sizeof wi));
  EXPECT_EQ(wi.TotalParts, parts.size());
  EXPECT_TRUE(wi.WimAttributes & WIM_ATTRIBUTE_SPANNED);
  Handle image(W().LoadImage(set.get(), 1));
  ASSERT_TRUE(image);
  const std::wstring out2 = dir_ + L"\\out2";
  EXPECT_FALSE(W().ApplyImage(image.get(), out2.c_str(), 0));   // data of the other parts missing
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  for (size_t n = 2; n <= parts.size(); ++n)
    EXPECT_TRUE(W().SetReferenceFile(set.get(), parts[n - 1].c_str(), WIM_REFERENCE_APPEND)) << GetLastError();
  EXPECT_FALSE(W().SetReferenceFile(set.get(), (dir_ + L"\\parts\\none.swm").c_str(), WIM_REFERENCE_APPEND));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  const std::wstring out3 = dir_ + L"\\out3";
  ASSERT_TRUE(W().ApplyImage(image.get(), out3.c_str(), 0)) << GetLastError();
  EXPECT_EQ(qtest::ReadFileBytes(out3 + L"\\r5.bin"), qtest::ReadFileBytes(src_ + L"\\r5.bin"));

  // A part cannot be split again.
  EXPECT_FALSE(W().SplitFile(set.get(), (dir_ + L"\\again.swm").c_str(), &size, 0));
}

TEST_F(WimgapiExport, SplitRefusesTooSmallPartsAndAbortLeavesNoParts) {
  Handle file = Open(wim_, WIM_GENERIC_READ, WIM_OPEN_EXISTING);
  const std::wstring first = dir_ + L"\\set.swm";
  LARGE_INTEGER size;
  for (LONGLONG bad : {LONGLONG(0), LONGLONG(1000), LONGLONG(99999)}) {
    size.QuadPart = bad;
    SetLastError(0);
    EXPECT_FALSE(W().SplitFile(file.get(), first.c_str(), &size, 0)) << bad;
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA) << bad;
  }
  EXPECT_FALSE(W().SplitFile(file.get(), first.c_str(), nullptr, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(Exists(first));

  // An existing file under a part's name survives an aborted split.
  ASSERT_TRUE(qtest::WriteFileBytes(first, "keep me"));
  Recorder rec;
  rec.handler = [&](DWORD msg, WPARAM, LPARAM) { return msg == WIM_MSG_SPLIT && rec.Count(WIM_MSG_SPLIT) == 2 ? WIM_MSG_ABORT_IMAGE : 0u; };
  W().RegisterMessageCallback(file.get(), RecordingProc(), &rec);
  size.QuadPart = 400000;
  EXPECT_FALSE(W().SplitFile(file.get(), first.c_str(), &size, 0));
  EXPECT_EQ(GetLastError(), ERROR_REQUEST_ABORTED);
  EXPECT_EQ(qtest::ReadFileBytes(first), "keep me");
  EXPECT_FALSE(Exists(dir_ + L"\\set2.swm"));
  WIN32_FIND_DATAW fd;
  HANDLE find = FindFirstFileW((dir_ + L"\\.wimgapi*").c_str(), &fd);
  EXPECT_EQ(find, INVALID_HANDLE_VALUE) << "temporary parts left behind";
  if (find != INVALID_HANDLE_VALUE) FindClose(find);

  // A split whose part would replace the file being split is refused.
  size.QuadPart = 400000;
  W().UnregisterMessageCallback(nullptr, RecordingProc());
  EXPECT_FALSE(W().SplitFile(file.get(), wim_.c_str(), &size, 0));
  EXPECT_EQ(ImageCount(wim_), 2);
}

TEST_F(WimgapiExport, SplitThatCannotNameEveryPartChangesNothing) {
  Handle file = Open(wim_, WIM_GENERIC_READ, WIM_OPEN_EXISTING);
  const std::wstring first = dir_ + L"\\set.swm";
  // An older set's first part, and a folder where the second part goes.
  ASSERT_TRUE(qtest::WriteFileBytes(first, "old part 1"));
  ASSERT_TRUE(qtest::MakeDirs(dir_ + L"\\set2.swm"));
  ASSERT_TRUE(qtest::WriteFileBytes(dir_ + L"\\set2.swm\\inside.txt", "inside"));
  LARGE_INTEGER size;
  size.QuadPart = 400000;
  SetLastError(0);
  EXPECT_FALSE(W().SplitFile(file.get(), first.c_str(), &size, 0));
  EXPECT_NE(GetLastError(), 0u);
  // Not a mixed set: the old first part is back, the folder untouched,
  // no later part and no temporary file left.
  EXPECT_EQ(qtest::ReadFileBytes(first), "old part 1");
  EXPECT_EQ(qtest::ReadFileBytes(dir_ + L"\\set2.swm\\inside.txt"), "inside");
  EXPECT_FALSE(Exists(dir_ + L"\\set3.swm"));
  EXPECT_EQ(qtest::RunUnix("ls -A " + Q(dir_) + " | grep -c wimgapi").output, "0\n");

  // Once the folder is gone the split succeeds and replaces the old part.
  qtest::RemoveTree(dir_ + L"\\set2.swm");
  ASSERT_TRUE(W().SplitFile(file.get(), first.c_str(), &size, 0)) << GetLastError();
  EXPECT_NE(qtest::ReadFileBytes(first), "old part 1");
  EXPECT_TRUE(Exists(dir_ + L"\\set2.swm"));
  EXPECT_EQ(qtest::RunUnix("ls -A " + Q(dir_) + " | grep -c wimgapi").output, "0\n");
}

TEST_F(WimgapiExport, DeleteImageAndBootImage) {
  ASSERT_EQ(Capture(src_ + L"\\sub\\deeper", wim_, WIM_COMPRESS_XPRESS, true), 3);
  SetName(wim_, 3, L"Third");
  Handle file = Open(wim_, WIM_GENERIC_READ | WIM_GENERIC_WRITE, WIM_OPEN_EXISTING);
  ASSERT_TRUE(W().SetBootImage(file.get(), 3));
  EXPECT_FALSE(W().SetBootImage(file.get(), 4));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  // An image that is open cannot be deleted; the others renumber.
  Handle third(W().LoadImage(file.get(), 3));
  EXPECT_FALSE(W().DeleteImage(file.get(), 3));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  for (DWORD bad : {0u, 4u}) {
    EXPECT_FALSE(W().DeleteImage(file.get(), bad));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
  ASSERT_TRUE(W().DeleteImage(file.get(), 1)) << GetLastError();
  WIM_INFO info;
  ASSERT_TRUE(W().GetAttributes(file.get(), &info, sizeof info));
  EXPECT_EQ(info.ImageCount, 2u);
  EXPECT_EQ(info.BootIndex, 2u);   // still the image named "Third"
  PVOID xml = nullptr;
  DWORD bytes = 0;
  ASSERT_TRUE(W().GetImageInformation(third.get(), &xml, &bytes));
  std::wstring text(static_cast<wchar_t*>(xml), bytes / 2);
  LocalFree(xml);
  EXPECT_NE(text.find(L"<IMAGE INDEX=\"2\""), std::wstring::npos);
  EXPECT_NE(text.find(L"<NAME>Third</NAME>"), std::wstring::npos);
  third.Reset();
  file.Reset();

  std::string oracle = Imagex("info " + Q(wim_));
  EXPECT_EQ(InfoField(oracle, "Image Count"), "2");
  EXPECT_EQ(InfoField(oracle, "Name", 1), "Second");
  EXPECT_EQ(InfoField(oracle, "Name", 2), "Third");
  EXPECT_EQ(InfoField(oracle, "Boot Index"), "2");
  Imagex("verify " + Q(wim_));

  Handle again = Open(wim_, WIM_GENERIC_READ | WIM_GENERIC_WRITE, WIM_OPEN_EXISTING);
  ASSERT_TRUE(W().SetBootImage(again.get(), 0));
  again.Reset();
  EXPECT_EQ(InfoField(Imagex("info " + Q(wim_)), "Boot Index"), "0");
}

}  // namespace
