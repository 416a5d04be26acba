#include "maintain_fixture.h"

using namespace qtest;

void MaintainTest::ShowMaintainPage(BackendKind kind) {
  UseBackend(kind);
  ShowAdvancedTab();
  ClickRadio(IDC_ADVANCED_MAINTAIN);
  ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(maintainWnd()); }, 20000));
}

std::wstring MaintainTest::RunJob(int buttonId) {
  Click(maintainWnd(), buttonId);
  return WaitForResult();
}

std::wstring MaintainTest::Status() { return Text(maintainWnd(), IDC_MAINTAIN_STATUS); }

std::wstring MaintainTest::MakeNoiseFolder(int files, size_t bytes, uint32_t seed) {
  std::wstring folder = TempDir();
  uint32_t x = seed;
  for (int f = 0; f < files; f++) {
    std::string noise(bytes, '\0');
    for (char& c : noise) {
      x = x * 1103515245u + 12345u;
      c = static_cast<char>(x >> 24);
    }
    EXPECT_TRUE(WriteFileBytes(folder + L"\\noise" + std::to_wstring(f) + L".bin", noise));
  }
  return folder;
}

std::wstring MaintainTest::MakeWimWithDeletedImage(const std::wstring& name) {
  std::wstring wim = MakeWim(name, 1);
  for (int i = 2; i <= 3; i++) {
    std::wstring data = MakeNoiseFolder(2, 512 * 1024, 1000u + static_cast<uint32_t>(i));
    UnixResult r = RunUnix("wimlib-imagex append " + ShQuote(UnixPath(data)) + " " + ShQuote(UnixPath(wim)) + " " +
                           ShQuote("Image " + std::to_string(i)) + " " + ShQuote("Description " + std::to_string(i)));
    EXPECT_EQ(r.exitCode, 0) << r.output;
  }
  std::string path = ShQuote(UnixPath(wim));
  EXPECT_EQ(RunUnix("wimlib-imagex delete " + path + " 2 --soft").exitCode, 0);
  EXPECT_EQ(RunUnix("wimlib-imagex info " + path + " 2 --boot").exitCode, 0);
  UnixResult edition = RunUnix("wimlib-imagex info " + path + " 2 --image-property WINDOWS/EDITIONID=Professional");
  EXPECT_EQ(edition.exitCode, 0) << edition.output;
  UnixResult display = RunUnix("wimlib-imagex info " + path + " 1 --image-property DISPLAYNAME=Shown-Name");
  EXPECT_EQ(display.exitCode, 0) << display.output;
  return wim;
}

bool MaintainTest::SameTrees(const std::wstring& wim, const std::wstring& reference) {
  int count = ImageCount(reference);
  if (count < 1 || ImageCount(wim) != count) return false;
  for (int image = 1; image <= count; image++) {
    std::wstring a = TempDir(), b = TempDir();
    std::string n = std::to_string(image);
    if (RunUnix("wimlib-imagex apply " + ShQuote(UnixPath(wim)) + " " + n + " " + ShQuote(UnixPath(a))).exitCode != 0)
      return false;
    if (RunUnix("wimlib-imagex apply " + ShQuote(UnixPath(reference)) + " " + n + " " + ShQuote(UnixPath(b))).exitCode !=
        0)
      return false;
    if (RunUnix("diff -r " + ShQuote(UnixPath(a)) + " " + ShQuote(UnixPath(b))).exitCode != 0) return false;
  }
  return true;
}

std::string MaintainTest::ImageXml(const std::wstring& wim) {
  return RunUnix("wimlib-imagex info " + ShQuote(UnixPath(wim)) +
                 " --xml | iconv -f UTF-16LE -t UTF-8 | perl -0ne 'while (/<IMAGE .*?<\\/IMAGE>/gs) { print \"$&\\n\" }'")
      .output;
}

uint64_t MaintainTest::FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}
