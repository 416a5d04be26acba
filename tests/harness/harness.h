// Helpers shared by all Quarry test programs: temporary folders, running
// Linux tools (wimlib-imagex as an independent oracle) from inside Wine,
// text conversion, and file helpers.
#pragma once
#include <windows.h>
#include <map>
#include <string>
#include <vector>

namespace qtest {

// Folder of the running test program (where Quarry.exe and the DLLs are).
std::wstring BinDir();

// A fresh, empty folder for one test, removed when the test program ends.
std::wstring TempDir();

// Unix path of a Windows path (the file need not exist).
std::string UnixPath(const std::wstring& winPath);

std::string Utf8(const std::wstring& s);
std::wstring Wide(const std::string& utf8);

struct UnixResult {
  int exitCode = -1;      // -1 when the command could not be run or timed out
  std::string output;     // stdout and stderr together
};

// Runs a /bin/sh command line on the Linux side and waits for it.
UnixResult RunUnix(const std::string& shellCommand, DWORD timeoutMs = 300000);

// Quotes a string for a /bin/sh command line.
std::string ShQuote(const std::string& s);

// A WIM whose files carry security descriptors and attributes of their own:
// a small NTFS volume (mkntfs, filled through ntfs-3g; root only) captured
// by wimlib-imagex. Its files: a.txt, b.txt (mode 600), .hidden (hidden),
// d/ (mode 750) with d/c.txt and d/change.txt. False when the tools are
// missing or a step failed.
bool MakeNtfsVolumeWim(const std::wstring& dir, const std::wstring& wim);

// Per path of an image ("\"/d/c.txt\""): its attributes, security
// descriptor, short name and creation time as `wimlib-imagex dir --detailed`
// prints them.
std::map<std::string, std::string> ImageMetadata(const std::wstring& wim, int image);

// Whether wimgapi.dll mounts through FUSE in this test run: the machine
// offers it (/dev/fuse usable, wimlib-imagex, root or fusermount) and the
// run does not hide it (WIMGAPI_WINE_NO_FUSE).
bool FuseUsable();

// True when wimlib-imagex lists the file as a solid (ESD) file: every blob
// of file data lies in a solid resource (metadata resources never do).
bool FileDataIsSolid(const std::wstring& wim);

bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::string ReadFileBytes(const std::wstring& path);
bool MakeDirs(const std::wstring& path);
// The names of what a folder holds (files and folders), sorted.
std::vector<std::wstring> NamesIn(const std::wstring& folder);
void RemoveTree(const std::wstring& path);

// Makes a small tree of files with varied sizes and names under root.
void MakeSampleTree(const std::wstring& root);

}  // namespace qtest
