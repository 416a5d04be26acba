// The metadata one image carries: what a capture writes after the image is
// made and what the edit page rewrites. Empty texts mean "none".
#pragma once
#include <string>
#include <vector>

// Every property of an image
//
// A property is an element of an image that holds text and no element of
// its own, named by its path below the image ("WINDOWS/VERSION/BUILD").
// Elements that occur several times under one parent ("WINDOWS/LANGUAGES/
// LANGUAGE") are several properties of the same path, in their order.
struct ImageProperty {
  std::wstring path;
  std::wstring value;  // decoded text; empty for an empty element
};

// One change to the properties of an image: the text of the occurrence-th
// element of `path` (1-based) becomes `value`, or the element goes
// (`remove`). An occurrence one past the last adds an element, with the
// parents it lacks.
struct PropertyChange {
  std::wstring path;
  int occurrence = 1;
  std::wstring value;
  bool remove = false;
};

struct ImageInfo {
  int bootIndex = 0;               // 0: set no boot image
  std::wstring name;               // NAME
  std::wstring displayName;        // DISPLAYNAME
  std::wstring description;        // DESCRIPTION
  std::wstring displayDescription; // DISPLAYDESCRIPTION
  std::wstring flags;              // FLAGS: the edition text
  int wimBoot = 0;                 // 1: WIMBoot-compatible (wimlib only)
  // Further elements to change (the Windows properties and any other), in
  // the order they are to be applied; none for a capture.
  std::vector<PropertyChange> properties;
};
