#include "engine_fixture.h"

#include <algorithm>
#include <sstream>

#include "engine/backend.h"
#include "recorder.h"

namespace etest {

ProgressRecorder::ProgressRecorder() {
  hwnd_ = CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"progress", WS_POPUP | WS_VISIBLE, 0, 0, 20, 20, nullptr,
                          nullptr, GetModuleHandleW(nullptr), nullptr);
}

ProgressRecorder::~ProgressRecorder() {
  if (hwnd_) DestroyWindow(hwnd_);
}

void EngineTest::SetUp() {
  BindBackends(host_.backends);
  dir_ = qtest::TempDir();
  host_.tempFolder = qtest::TempDir();
}

void EngineTest::TearDown() {
}

// Wine carries a stub wimgapi.dll of its own that binds only a few entries;
// the tests need the full library installed in the prefix.
bool EngineTest::NeedWimgapi() {
  const WimgapiTable& t = host_.backends.wimgapi;
  return t.CreateFile && t.CaptureImage && t.ApplyImage && t.ExportImage && t.SplitFile && t.MountImageHandle;
}
bool EngineTest::NeedWimlib() { return host_.backends.WimlibAvailable(); }

std::vector<std::wstring> EngineTest::ErrorTexts() const {
  std::vector<std::wstring> out;
  for (const Box& b : boxes_)
    if (b.kind == Box::kError) out.push_back(b.text);
  return out;
}

bool EngineTest::ErrorBoxStartsWith(const std::wstring& prefix) const {
  for (const std::wstring& t : ErrorTexts())
    if (t.compare(0, prefix.size(), prefix) == 0) return true;
  return false;
}

void TreeTest::SetUpTree(BackendKind kind) {
  if (kind == kBackendWimlib && !NeedWimlib()) GTEST_SKIP() << "libwim-15.dll is not in bin\\wimlib";
  if (kind == kBackendWimgapi && !NeedWimgapi()) GTEST_SKIP() << "wimgapi.dll is not in the prefix";
  src_ = dir_ + L"\\src";
  qtest::MakeSampleTree(src_);
}

std::wstring TreeTest::OracleWim(const std::string& name, const std::string& extra) {
  std::wstring wim = dir_ + L"\\oracle.wim";
  OracleCapture(src_, wim, name, extra);
  return wim;
}

void TreeTest::StartRecorder(BackendKind kind) {
  if (kind == kBackendWimlib)
    rec::StartWimlib(host_.backends);
  else
    rec::StartWimgapi(host_.backends);
}

std::string BackendName(const ::testing::TestParamInfo<BackendKind>& info) {
  return info.param == kBackendWimlib ? "Wimlib" : "Wimgapi";
}

void ExpectClosedInReverse() {
  std::vector<std::string> opened, closed;
  for (const std::string& line : rec::log) {
    size_t arrow = line.find(" -> ");
    if (arrow != std::string::npos && line.substr(arrow + 4) != "null") opened.push_back(line.substr(arrow + 4));
    if (line.compare(0, 6, "Close ") == 0) closed.push_back(line.substr(6));
  }
  std::reverse(opened.begin(), opened.end());
  EXPECT_EQ(closed, opened) << rec::Joined();
}

qtest::UnixResult Imagex(const std::string& args) { return qtest::RunUnix("wimlib-imagex " + args); }

std::string Q(const std::wstring& winPath) { return qtest::ShQuote(qtest::UnixPath(winPath)); }

namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  size_t e = s.find_last_not_of(" \t\r\n");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

}  // namespace

std::string InfoField(const std::wstring& wim, int index, const std::string& field) {
  std::string args = "info " + Q(wim) + (index > 0 ? " " + std::to_string(index) : "");
  qtest::UnixResult r = Imagex(args);
  if (r.exitCode != 0) return "<info failed: " + r.output + ">";
  // With an index only that image's fields are printed.
  for (const std::string& line : SplitLines(r.output)) {
    if (line.compare(0, field.size() + 1, field + ":") == 0) return Trim(line.substr(field.size() + 1));
  }
  return "";
}

int ImageCount(const std::wstring& wim) { return atoi(InfoField(wim, 0, "Image Count").c_str()); }

std::vector<std::string> DirList(const std::wstring& wim, int index, const std::string& extra) {
  qtest::UnixResult r = Imagex("dir " + Q(wim) + " " + std::to_string(index) + " " + extra);
  if (r.exitCode != 0) return {"<dir failed: " + r.output + ">"};
  return SplitLines(r.output);
}

std::string StreamFlags(const std::wstring& wim, int index, const std::string& path) {
  qtest::UnixResult r =
      Imagex("dir " + Q(wim) + " " + std::to_string(index) + " --detailed --path=" + qtest::ShQuote(path));
  for (const std::string& line : SplitLines(r.output))
    if (line.compare(0, 5, "Flags") == 0) return Trim(line.substr(line.find('=') + 1));
  return "<no flags line: " + r.output + ">";
}

std::string OracleXml(const std::wstring& wim) {
  return Imagex("info --xml " + Q(wim) + " | iconv -f UTF-16LE -t UTF-8").output;
}

bool OracleVerify(const std::wstring& wim, const std::string& extra) {
  qtest::UnixResult r = Imagex("verify " + Q(wim) + " " + extra);
  if (r.exitCode != 0) ADD_FAILURE() << r.output;
  return r.exitCode == 0;
}

bool OracleCapture(const std::wstring& source, const std::wstring& wim, const std::string& name,
                   const std::string& extra) {
  std::string verb = GetFileAttributesW(wim.c_str()) == INVALID_FILE_ATTRIBUTES ? "capture " : "append ";
  qtest::UnixResult r = Imagex(verb + Q(source) + " " + Q(wim) + " " + qtest::ShQuote(name) + " " + extra);
  if (r.exitCode != 0) ADD_FAILURE() << r.output;
  return r.exitCode == 0;
}

bool SameTree(const std::wstring& a, const std::wstring& b) {
  qtest::UnixResult r = qtest::RunUnix("diff -r " + Q(a) + " " + Q(b));
  if (r.exitCode != 0) ADD_FAILURE() << r.output;
  return r.exitCode == 0;
}

bool AppliesTo(const std::wstring& wim, int index, const std::wstring& source, const std::string& extra) {
  std::wstring out = qtest::TempDir() + L"\\applied";
  qtest::UnixResult r = Imagex("apply " + Q(wim) + " " + std::to_string(index) + " " + Q(out) + " " + extra);
  if (r.exitCode != 0) {
    ADD_FAILURE() << r.output;
    return false;
  }
  return SameTree(source, out);
}

std::string RandomBytes(size_t n, unsigned seed) {
  std::string s(n, '\0');
  unsigned x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    s[i] = static_cast<char>(x >> 24);
  }
  return s;
}

}  // namespace etest
