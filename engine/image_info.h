// The metadata one image carries: what a capture writes after the image is
// made and what the edit page rewrites. Empty texts mean "none".
#pragma once
#include <string>

struct ImageInfo {
  int bootIndex = 0;               // 0: set no boot image
  std::wstring name;               // NAME
  std::wstring displayName;        // DISPLAYNAME
  std::wstring description;        // DESCRIPTION
  std::wstring displayDescription; // DISPLAYDESCRIPTION
  std::wstring flags;              // FLAGS: the edition text
  int wimBoot = 0;                 // 1: WIMBoot-compatible (wimlib only)
};
