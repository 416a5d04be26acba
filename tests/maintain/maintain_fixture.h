// The maintenance page in the running main window: the advanced tab's
// fixture, the page brought forward, its file typed in, its buttons, and
// the files of the tests — images with data of their own (so that deleting
// one leaves data behind), split sets — judged with wimlib-imagex.
#pragma once
#include <cstdint>
#include <string>

#include "advanced_fixture.h"
#include "resources/resource.h"

class MaintainTest : public AdvancedTest {
 protected:
  HWND maintainWnd() { return host().maintainPage().hwnd(); }
  // The "高级" tab with the maintenance page shown, on back end `kind`.
  void ShowMaintainPage(BackendKind kind);
  void SetFile(const std::wstring& path) { Type(maintainWnd(), IDC_MAINTAIN_FILE, path); }
  // Clicks a job's button and returns the progress page's result text once
  // the job has ended (the page is shown again then).
  std::wstring RunJob(int buttonId);
  std::wstring Status();

  // Three images, each with its own noise file beside the sample tree;
  // image 2 is deleted again without a rebuild, so its data stay in the
  // file. Image 2 of the result (the former image 3) carries the boot
  // mark and an edition.
  std::wstring MakeWimWithDeletedImage(const std::wstring& name);
  // A folder with `files` noise files of `bytes` bytes each (seed varies).
  std::wstring MakeNoiseFolder(int files, size_t bytes, uint32_t seed);
  // Every image of `wim` applied into a fresh folder and compared with the
  // same image of `reference` applied too: true when every file and folder
  // is the same.
  bool SameTrees(const std::wstring& wim, const std::wstring& reference);
  // The <IMAGE> elements of `wimlib-imagex info --xml`, with the sizes and
  // times that a rewrite may change taken out.
  std::string ImageXml(const std::wstring& wim);
  uint64_t FileSize(const std::wstring& path);
  // Whether wimlib-imagex lists an integrity table among the attributes.
  bool HasIntegrityTable(const std::wstring& wim) {
    return InfoField(wim, 0, "Attributes").find("Integrity info") != std::string::npos;
  }
};
