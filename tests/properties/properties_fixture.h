// What the property tests share: Windows properties put into a file with
// wimlib-imagex, and the file's XML read back by Python's XML parser, apart
// from the program, as path=value lines and as the text of one image.
#pragma once
#include <string>
#include <vector>

#include "advanced_fixture.h"

class PropertiesTest : public AdvancedTest {
 protected:
  // Sets "PATH=VALUE" properties of one image with wimlib-imagex.
  void SetProperties(const std::wstring& wim, int image, const std::vector<std::string>& properties);
  // Every element of the image that holds text, "path=value" in document
  // order (paths below the image, "/"-separated).
  std::vector<std::string> Leaves(const std::wstring& wim, int image);
  // The XML text of the image's element exactly as the file holds it.
  std::string ImageText(const std::wstring& wim, int image);
  static HWND FindTopWindow(const std::wstring& prefix) { return qtest::FindTopWindow(prefix); }

 private:
  std::string RunReader(const std::wstring& wim, int image, const char* mode);
};

// The lines without those whose path is one of `paths`.
std::vector<std::string> Without(const std::vector<std::string>& lines, const std::vector<std::string>& paths);
// The values of one path, in order.
std::vector<std::string> ValuesOf(const std::vector<std::string>& lines, const std::string& path);
