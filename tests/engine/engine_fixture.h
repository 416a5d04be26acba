// Shared set-up of the engine tests: a test EngineHost with both back ends
// bound (wimlib through the bridge in bin\wimlib, WIMGAPI from the prefix's
// system32), what the engine tells or asks the user answered by the test
// and recorded, and helpers that ask wimlib-imagex about the files the
// engine made.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/engine_host.h"
#include "harness.h"

namespace etest {

// One thing the engine told or asked the user through its host.
struct Box {
  enum Kind { kError, kSplitTooSmall, kAbortQuestion };
  Kind kind;
  std::wstring text;  // of an error: the failed call, its number and message
};

// The host the engine tests give their operations: records every box and
// answers the abort question with `abortAnswer`. It also holds what the
// program would give an operation: the bound back ends, the choice's
// temporary folder and lists, the operation's cancel and quiet errors.
class RecordingHost : public EngineHost {
 public:
  RecordingHost(std::vector<Box>& boxes, const int& abortAnswer) : boxes_(boxes), abortAnswer_(abortAnswer) {}

  Backends backends;
  std::wstring tempFolder;
  CaptureLists captureLists;
  bool runningFromDriveX = false;
  CancelToken cancel;
  bool quietErrors = false;

  // The context of an operation the test runs, reporting to `progress`.
  OperationContext Context(ProgressTarget* progress = nullptr) {
    OperationContext context;
    context.progress = progress;
    context.cancel = &cancel;
    context.host = this;
    context.quietErrors = quietErrors;
    return context;
  }
  BackendChoice Choice(BackendKind kind) const {
    BackendChoice choice;
    choice.backend = kind;
    choice.tempFolder = tempFolder;
    choice.captureLists = captureLists;
    choice.runningFromDriveX = runningFromDriveX;
    return choice;
  }
  // The engine of `kind` for one operation reporting to `progress`.
  std::unique_ptr<Engine> Engine(BackendKind kind, ProgressTarget* progress = nullptr) {
    return MakeEngine(backends, Choice(kind), Context(progress));
  }
  void ShowError(const std::wstring& text) override { boxes_.push_back({Box::kError, text}); }
  void ShowNotice(EngineNotice) override { boxes_.push_back({Box::kSplitTooSmall, L""}); }
  bool ConfirmAbort() override {
    boxes_.push_back({Box::kAbortQuestion, L""});
    return abortAnswer_ == IDYES;
  }

 private:
  std::vector<Box>& boxes_;
  const int& abortAnswer_;
};

// A progress page that records the percentages it is given (a small visible
// window, since only visible displays are updated). Requests name it as
// their progress target.
class ProgressRecorder : public ProgressTarget {
 public:
  ProgressRecorder();
  ~ProgressRecorder() override;
  HWND Hwnd() const override { return hwnd_; }
  void SetPercent(float percent) override {
    percents.push_back(percent);
    if (onPercent) onPercent(percent);
  }
  void SetStatusText(const std::wstring& text) override { statusTexts.push_back(text); }
  std::vector<float> percents;
  std::vector<std::wstring> statusTexts;
  // Called with every percentage, on the thread that reports it.
  std::function<void(float)> onPercent;

 private:
  HWND hwnd_;
};

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Skips the test when the back end did not bind.
  bool NeedWimgapi();
  bool NeedWimlib();

  // The texts of the error boxes shown (not the notices or questions).
  std::vector<std::wstring> ErrorTexts() const;
  bool ErrorBoxStartsWith(const std::wstring& prefix) const;

  // Answers the abort question with `answer` (and records it).
  int abortAnswer_ = IDNO;
  std::vector<Box> boxes_;
  // mutable: the engines the tests make hold its cancel and boxes.
  mutable RecordingHost host_{boxes_, abortAnswer_};
  std::wstring dir_;  // a fresh folder for the test
  // A progress display for the tests' requests to name.
  ProgressRecorder progress_;
};

// The tests of one back end on the sample tree in `src_`; skipped when the
// back end did not bind.
class TreeTest : public EngineTest {
 protected:
  // Makes the sample tree, or skips the test when `kind` did not bind.
  void SetUpTree(BackendKind kind);
  // A file made by wimlib-imagex with one image of the sample tree.
  std::wstring OracleWim(const std::string& name = "one", const std::string& extra = "");
  // Puts the call recorder in front of the library of `kind` (see recorder.h).
  void StartRecorder(BackendKind kind);
  std::wstring src_;
};

class WimgapiEngineTest : public TreeTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    SetUpTree(kBackendWimgapi);
  }
  std::unique_ptr<Engine> Make(ProgressTarget* progress = nullptr) const {
    return host_.Engine(kBackendWimgapi, progress);
  }
};

class WimlibEngineTest : public TreeTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    SetUpTree(kBackendWimlib);
  }
  std::unique_ptr<Engine> Make(ProgressTarget* progress = nullptr) const {
    return host_.Engine(kBackendWimlib, progress);
  }
};

// What a user needs of both back ends alike, run once per back end; where
// they legitimately differ a test says so with IsWimgapi().
class BackendTest : public TreeTest, public ::testing::WithParamInterface<BackendKind> {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    SetUpTree(GetParam());
  }
  bool IsWimgapi() const { return GetParam() == kBackendWimgapi; }
  BackendKind Other() const { return IsWimgapi() ? kBackendWimlib : kBackendWimgapi; }
  // The engine under test (WIMGAPI with the host's temporary folder).
  std::unique_ptr<Engine> Make(ProgressTarget* progress = nullptr) const {
    return host_.Engine(GetParam(), progress);
  }
  void StartRecorder() { TreeTest::StartRecorder(GetParam()); }
};

// "Wimgapi" or "Wimlib": the back end in the name of a parameterised test.
std::string BackendName(const ::testing::TestParamInfo<BackendKind>& info);

// Every WIMGAPI handle the recorder's log shows opened is closed exactly
// once, the last opened first.
void ExpectClosedInReverse();

// "wimlib-imagex <args>" on the Linux side.
qtest::UnixResult Imagex(const std::string& args);
// A Windows path quoted for the shell, as its Unix path.
std::string Q(const std::wstring& winPath);

// The value after "<field>:" in `wimlib-imagex info` output (file part or,
// with index > 0, that image's part), trimmed; "" when absent.
std::string InfoField(const std::wstring& wim, int index, const std::string& field);
int ImageCount(const std::wstring& wim);
// The paths of an image as `wimlib-imagex dir` lists them.
std::vector<std::string> DirList(const std::wstring& wim, int index, const std::string& extra = "");
// The "Flags" line of a file's unnamed stream in `dir --detailed`.
std::string StreamFlags(const std::wstring& wim, int index, const std::string& path);
// The XML of a file as wimlib-imagex prints it (UTF-8).
std::string OracleXml(const std::wstring& wim);
// `wimlib-imagex verify` succeeds (extra: e.g. "--ref=...").
bool OracleVerify(const std::wstring& wim, const std::string& extra = "");
// Captures `source` into `wim` with wimlib-imagex (append when the file exists).
bool OracleCapture(const std::wstring& source, const std::wstring& wim, const std::string& name,
                   const std::string& extra = "");
// `diff -r` finds no difference between the two trees.
bool SameTree(const std::wstring& a, const std::wstring& b);
// Applies image `index` with wimlib-imagex and compares it with `source`.
bool AppliesTo(const std::wstring& wim, int index, const std::wstring& source, const std::string& extra = "");

// Bytes that do not compress.
std::string RandomBytes(size_t n, unsigned seed);

}  // namespace etest
