// Helpers shared by all Quarry test programs: temporary folders, running
// Linux tools (wimlib-imagex as an independent oracle) from inside Wine,
// text conversion, and file helpers.
#pragma once
#include <windows.h>
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

// True when wimlib-imagex lists the file as a solid (ESD) file: every blob
// of file data lies in a solid resource (metadata resources never do).
bool FileDataIsSolid(const std::wstring& wim);

bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::string ReadFileBytes(const std::wstring& path);
bool MakeDirs(const std::wstring& path);
void RemoveTree(const std::wstring& path);

// Makes a small tree of files with varied sizes and names under root.
void MakeSampleTree(const std::wstring& root);

}  // namespace qtest
