// Tests of libwim-15.dll, the bridge that gives the program wimlib's Windows
// ABI under Wine.  They call it exactly as the program does (loaded from the
// "wimlib" folder, bound with GetProcAddress, UTF-16 strings, Windows paths)
// and check the files it writes with wimlib-imagex, run on the Linux side.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/harness/harness.h"
#include "wimlib_abi.h"

namespace {

wl::Api g_api;
const wl::Api& api = g_api;

template <typename Fn>
void Bind(Fn& fn, const char* name) {
  fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(g_api.module, name)));
}

// Loads the library the way the program does: by name, with the "wimlib"
// folder beside the executable as the current directory.
void LoadBridge() {
  if (g_api.module) return;
  wchar_t old[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, old);
  SetCurrentDirectoryW((qtest::BinDir() + L"\\wimlib").c_str());
  g_api.module = LoadLibraryW(L"libwim-15.dll");
  SetCurrentDirectoryW(old);
  if (!g_api.module) return;
  Bind(g_api.open_wim, "wimlib_open_wim");
  Bind(g_api.extract_image, "wimlib_extract_image");
  Bind(g_api.create_new_wim, "wimlib_create_new_wim");
  Bind(g_api.reference_resource_files, "wimlib_reference_resource_files");
  Bind(g_api.add_image, "wimlib_add_image");
  Bind(g_api.write, "wimlib_write");
  Bind(g_api.overwrite, "wimlib_overwrite");
  Bind(g_api.iterate_dir_tree, "wimlib_iterate_dir_tree");
  Bind(g_api.extract_paths, "wimlib_extract_paths");
  Bind(g_api.register_progress_function, "wimlib_register_progress_function");
  Bind(g_api.get_wim_info, "wimlib_get_wim_info");
  Bind(g_api.get_xml_data, "wimlib_get_xml_data");
  Bind(g_api.set_wim_info, "wimlib_set_wim_info");
  Bind(g_api.set_image_flags, "wimlib_set_image_flags");
  Bind(g_api.set_image_name, "wimlib_set_image_name");
  Bind(g_api.set_image_descripton, "wimlib_set_image_descripton");
  Bind(g_api.set_image_description, "wimlib_set_image_description");
  Bind(g_api.set_output_chunk_size, "wimlib_set_output_chunk_size");
  Bind(g_api.delete_image, "wimlib_delete_image");
  Bind(g_api.split, "wimlib_split");
  Bind(g_api.export_image, "wimlib_export_image");
  Bind(g_api.verify_wim, "wimlib_verify_wim");
  Bind(g_api.free_wim, "wimlib_free");
  Bind(g_api.global_cleanup, "wimlib_global_cleanup");
  Bind(g_api.update_image, "wimlib_update_image");
  Bind(g_api.get_error_string, "wimlib_get_error_string");
  Bind(g_api.set_image_property, "wimlib_set_image_property");
  Bind(g_api.get_image_property, "wimlib_get_image_property");
  Bind(g_api.get_image_name, "wimlib_get_image_name");
  Bind(g_api.get_image_description, "wimlib_get_image_description");
  Bind(g_api.resolve_image, "wimlib_resolve_image");
  Bind(g_api.rename_path, "wimlib_rename_path");
  Bind(g_api.delete_path, "wimlib_delete_path");
  Bind(g_api.add_tree, "wimlib_add_tree");
  Bind(g_api.extract_pathlist, "wimlib_extract_pathlist");
}

// Owns an open WIM.
struct Wim {
  wl::WIMStruct* p = nullptr;
  Wim() = default;
  Wim(const Wim&) = delete;
  Wim& operator=(const Wim&) = delete;
  ~Wim() {
    if (p) api.free_wim(p);
  }
};

// Bytes that do not compress, so a few megabytes make several chunks.
std::string NoiseBytes(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    s[i] = char(seed >> 23);
  }
  return s;
}

// The sample tree plus deeper Chinese and non-BMP names.
std::wstring MakeSource(const std::wstring& parent, size_t noiseBytes = 0) {
  std::wstring src = parent + L"\\src";
  qtest::MakeSampleTree(src);
  qtest::MakeDirs(src + L"\\\u76ee\u5f55\\\U00020000\u5b57");
  qtest::WriteFileBytes(src + L"\\\u76ee\u5f55\\\U00020000\u5b57\\\U0001F4C4 \u6570\u636e.txt", "deep\n");
  if (noiseBytes) qtest::WriteFileBytes(src + L"\\sub\\noise.bin", NoiseBytes(noiseBytes, 7));
  return src;
}

// Relative path -> contents ("<dir>" for folders) of everything under root.
void ReadTree(const std::wstring& root, const std::wstring& rel, std::map<std::wstring, std::string>& out) {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((root + rel + L"\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring name = fd.cFileName;
    if (name == L"." || name == L"..") continue;
    std::wstring child = rel + L"\\" + name;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      out[child] = "<dir>";
      ReadTree(root, child, out);
    } else {
      out[child] = qtest::ReadFileBytes(root + child);
    }
  } while (FindNextFileW(h, &fd));
  FindClose(h);
}

std::map<std::wstring, std::string> ReadTree(const std::wstring& root) {
  std::map<std::wstring, std::string> out;
  ReadTree(root, L"", out);
  return out;
}

// The independent check of a file written through the bridge.
void ExpectImagexVerifies(const std::wstring& wimPath, const std::string& extra = "") {
  qtest::UnixResult r = qtest::RunUnix("wimlib-imagex verify " + qtest::ShQuote(qtest::UnixPath(wimPath)) + extra);
  EXPECT_EQ(0, r.exitCode) << r.output;
}

// "wimlib-imagex info" of the file (image 0) or of one image.
std::string ImagexInfo(const std::wstring& wimPath, int image) {
  std::string cmd = "wimlib-imagex info " + qtest::ShQuote(qtest::UnixPath(wimPath));
  if (image > 0) cmd += " " + std::to_string(image);
  return qtest::RunUnix(cmd).output;
}

// The value after "Key:" on its line of "wimlib-imagex info" output.
std::string InfoField(const std::string& info, const std::string& key) {
  size_t at = info.find("\n" + key + ":");
  if (at == std::string::npos) return "(missing)";
  at = info.find_first_not_of(' ', at + key.size() + 2);
  return info.substr(at, info.find('\n', at) - at);
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// Records what the progress function was told, copying the strings while
// they are valid.
struct ProgressLog {
  std::vector<int> messages;
  std::vector<double> writePercent;
  std::vector<double> extractPercent;
  std::set<DWORD> threads;
  std::wstring scanSource, scanTarget, extractTarget, extractImageName;
  std::vector<std::wstring> partNames, scannedPaths;
  std::vector<unsigned> partNumbers;

  static int Callback(int msg, wl::ProgressInfo* info, void* ctx) {
    auto* log = static_cast<ProgressLog*>(ctx);
    log->messages.push_back(msg);
    log->threads.insert(GetCurrentThreadId());
    auto str = [](const wchar_t* s) { return std::wstring(s ? s : L"(null)"); };
    switch (msg) {
      case wl::kMsgWriteStreams:
        if (info->write_streams.total_bytes)
          log->writePercent.push_back(100.0 * info->write_streams.completed_bytes / info->write_streams.total_bytes);
        break;
      case wl::kMsgScanBegin:
        log->scanSource = str(info->scan.source);
        log->scanTarget = str(info->scan.wim_target_path);
        break;
      case wl::kMsgScanDentry:
        log->scannedPaths.push_back(str(info->scan.cur_path));
        break;
      case wl::kMsgExtractImageBegin:
      case wl::kMsgExtractTreeBegin:
        log->extractTarget = str(info->extract.target);
        log->extractImageName = str(info->extract.image_name);
        break;
      case wl::kMsgExtractStreams:
        if (info->extract.total_bytes)
          log->extractPercent.push_back(100.0 * info->extract.completed_bytes / info->extract.total_bytes);
        break;
      case wl::kMsgSplitBeginPart:
        log->partNames.push_back(str(info->split.part_name));
        log->partNumbers.push_back(info->split.cur_part_number);
        break;
    }
    return 0;
  }

  bool Saw(int msg) const { return std::find(messages.begin(), messages.end(), msg) != messages.end(); }
};

void ExpectRisingTo100(const std::vector<double>& pct) {
  ASSERT_GE(pct.size(), 2u);
  EXPECT_TRUE(std::is_sorted(pct.begin(), pct.end()));
  EXPECT_LT(pct.front(), 100.0);
  EXPECT_DOUBLE_EQ(100.0, pct.back());
}

// Captures src as one image into a new file.
int CaptureNew(const std::wstring& src, const std::wstring& wimPath, const wchar_t* name, int ctype = wl::kCompressLzx,
               ProgressLog* log = nullptr) {
  Wim wim;
  int ret = api.create_new_wim(ctype, &wim.p);
  if (ret) return ret;
  if (log) api.register_progress_function(wim.p, &ProgressLog::Callback, log);
  ret = api.add_image(wim.p, src.c_str(), name, nullptr, wl::kAddWinConfig);
  if (ret) return ret;
  return api.write(wim.p, wimPath.c_str(), wl::kAllImages, 0, 0);
}

// Named in lower case so that "ctest -R bridge" selects these tests.
class bridge : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { LoadBridge(); }

  void SetUp() override {
    ASSERT_NE(nullptr, api.module) << "wimlib\\libwim-15.dll did not load";
    dir_ = qtest::TempDir();
    // Relative paths below resolve against this, as the program's do.
    SetCurrentDirectoryW(dir_.c_str());
  }

  void TearDown() override { SetCurrentDirectoryW(qtest::BinDir().c_str()); }

  std::wstring dir_;
};

TEST_F(bridge, ExportsEveryFunctionTheProgramBinds) {
  const char* names[] = {
      "wimlib_open_wim", "wimlib_extract_image", "wimlib_create_new_wim", "wimlib_reference_resource_files",
      "wimlib_add_image", "wimlib_write", "wimlib_overwrite", "wimlib_iterate_dir_tree", "wimlib_extract_paths",
      "wimlib_register_progress_function", "wimlib_get_wim_info", "wimlib_get_xml_data", "wimlib_set_wim_info",
      "wimlib_set_image_flags", "wimlib_set_image_name", "wimlib_set_image_descripton",
      "wimlib_set_image_description", "wimlib_set_output_chunk_size", "wimlib_delete_image", "wimlib_split",
      "wimlib_export_image", "wimlib_verify_wim", "wimlib_free", "wimlib_global_cleanup", "wimlib_update_image",
      "wimlib_get_error_string", "wimlib_set_image_property", "wimlib_get_image_property", "wimlib_get_image_name",
      "wimlib_get_image_description", "wimlib_resolve_image", "wimlib_global_init", "wimlib_set_print_errors",
      "wimlib_add_empty_image", "wimlib_add_image_multisource", "wimlib_extract_pathlist",
      "wimlib_iterate_lookup_table", "wimlib_set_output_compression_type", "wimlib_set_default_compression_level",
      "wimlib_image_name_in_use", "wimlib_rename_path", "wimlib_delete_path", "wimlib_add_tree"};
  for (const char* name : names) EXPECT_NE(nullptr, GetProcAddress(api.module, name)) << name;
}

TEST_F(bridge, CaptureWriteOpenAndReadInformation) {
  std::wstring src = MakeSource(dir_, 3 << 20);
  std::wstring wimPath = dir_ + L"\\\u955c\u50cf \U0001F600.wim";
  ProgressLog log;
  ASSERT_EQ(0, CaptureNew(src, wimPath, L"\u540d\u5b57 \U0001F600", wl::kCompressLzx, &log));

  // Progress arrived with Windows paths and rising percentages.
  EXPECT_TRUE(SamePath(src, log.scanSource)) << qtest::Utf8(log.scanSource);
  EXPECT_TRUE(log.Saw(wl::kMsgScanEnd));
  ExpectRisingTo100(log.writePercent);

  ExpectImagexVerifies(wimPath);
  std::string info = ImagexInfo(wimPath, 1);
  EXPECT_NE(std::string::npos, info.find(qtest::Utf8(L"\u540d\u5b57 \U0001F600"))) << info;

  Wim wim;
  ASSERT_EQ(0, api.open_wim(wimPath.c_str(), 0, &wim.p));
  wl::WimInfo wi{};
  ASSERT_EQ(0, api.get_wim_info(wim.p, &wi));
  EXPECT_EQ(1u, wi.image_count);
  EXPECT_EQ(wl::kCompressLzx, wi.compression_type);
  EXPECT_EQ(1, wi.part_number);
  EXPECT_EQ(1, wi.total_parts);

  const wchar_t* name = api.get_image_name(wim.p, 1);
  ASSERT_NE(nullptr, name);
  EXPECT_EQ(std::wstring(L"\u540d\u5b57 \U0001F600"), name);
  EXPECT_EQ(name, api.get_image_name(wim.p, 1)) << "asking again gives the same string";
  EXPECT_EQ(nullptr, api.get_image_name(wim.p, 2));
  EXPECT_EQ(1, api.resolve_image(wim.p, L"\u540d\u5b57 \U0001F600"));

  // The XML data is UTF-16 with a byte-order mark, released with free().
  void* buf = nullptr;
  size_t size = 0;
  ASSERT_EQ(0, api.get_xml_data(wim.p, &buf, &size));
  ASSERT_NE(nullptr, buf);
  ASSERT_GE(size, 2u);
  std::wstring xml(static_cast<wchar_t*>(buf), size / 2);
  free(buf);
  EXPECT_EQ(L'\xFEFF', xml[0]);
  EXPECT_NE(std::wstring::npos, xml.find(L"<NAME>\u540d\u5b57 \U0001F600</NAME>")) << qtest::Utf8(xml);
  EXPECT_NE(std::wstring::npos, xml.find(L"<IMAGE INDEX=\"1\">"));
}

struct DirLog {
  std::map<std::wstring, uint32_t> attributes;  // full path -> attributes
  std::map<std::wstring, uint64_t> sizes;       // full path -> size of the unnamed stream
  std::map<std::wstring, std::wstring> names;   // full path -> file name
  int stopAfter = -1;

  static int Callback(const wl::DirEntry* e, void* ctx) {
    auto* log = static_cast<DirLog*>(ctx);
    std::wstring path = e->full_path ? e->full_path : L"(null)";
    log->attributes[path] = e->attributes;
    log->names[path] = e->filename ? e->filename : L"";
    log->sizes[path] = e->streams[0].resource.uncompressed_size;
    if (log->stopAfter >= 0 && (int)log->attributes.size() >= log->stopAfter) return 1234;
    return 0;
  }
};

TEST_F(bridge, IterateDirTreeGivesUnicodeNamesAndBackslashPaths) {
  std::wstring src = MakeSource(dir_);
  ASSERT_EQ(0, CaptureNew(src, L"tree.wim", L"tree"));
  Wim wim;
  ASSERT_EQ(0, api.open_wim(L"tree.wim", 0, &wim.p));

  DirLog all;
  ASSERT_EQ(0, api.iterate_dir_tree(wim.p, 1, L"", wl::kIterateRecursive, &DirLog::Callback, &all));
  std::wstring deep = L"\\\u76ee\u5f55\\\U00020000\u5b57\\\U0001F4C4 \u6570\u636e.txt";
  for (const wchar_t* path : {L"\\", L"\\small.txt", L"\\\u4e2d\u6587\u6587\u4ef6.txt", L"\\sub\\\U0001F600.txt",
                              L"\\sub\\deeper\\repeat.txt", L"\\empty", deep.c_str()})
    EXPECT_EQ(1u, all.attributes.count(path)) << qtest::Utf8(path);
  EXPECT_EQ(std::wstring(L"\U0001F4C4 \u6570\u636e.txt"), all.names[deep]);
  EXPECT_TRUE(all.attributes[L"\\sub"] & wl::kFileAttributeDirectory);
  EXPECT_FALSE(all.attributes[L"\\sub\\big.bin"] & wl::kFileAttributeDirectory);
  EXPECT_EQ(300000u, all.sizes[L"\\sub\\big.bin"]);
  EXPECT_EQ(0u, all.sizes[L"\\zero.bin"]);

  // Children of one folder, named with "\" and in another case, as Windows
  // paths inside an image are.
  DirLog children;
  ASSERT_EQ(0, api.iterate_dir_tree(wim.p, 1, L"\\SUB", wl::kIterateChildren, &DirLog::Callback, &children));
  std::set<std::wstring> got;
  for (auto& kv : children.attributes) got.insert(kv.first);
  EXPECT_EQ((std::set<std::wstring>{L"\\sub\\big.bin", L"\\sub\\deeper", L"\\sub\\\U0001F600.txt"}), got);

  // A non-zero result of the callback stops the walk and is returned.
  DirLog stop;
  stop.stopAfter = 2;
  EXPECT_EQ(1234, api.iterate_dir_tree(wim.p, 1, L"\\", wl::kIterateRecursive, &DirLog::Callback, &stop));
  EXPECT_EQ(2u, stop.attributes.size());

  EXPECT_EQ(wl::kErrPathDoesNotExist,
            api.iterate_dir_tree(wim.p, 1, L"\\no such", wl::kIterateChildren, &DirLog::Callback, &stop));
}

TEST_F(bridge, ExtractImageAndPathsGiveIdenticalFiles) {
  std::wstring src = MakeSource(dir_, 1 << 20);
  ASSERT_EQ(0, CaptureNew(src, dir_ + L"\\x.wim", L"x", wl::kCompressXpress));
  Wim wim;
  ASSERT_EQ(0, api.open_wim(L"x.wim", 0, &wim.p));
  ProgressLog log;
  api.register_progress_function(wim.p, &ProgressLog::Callback, &log);

  // Whole image, to a relative folder that does not exist yet.
  ASSERT_EQ(0, api.extract_image(wim.p, 1, L"out", wl::kExtractNoAcls));
  EXPECT_EQ(ReadTree(src), ReadTree(dir_ + L"\\out"));
  EXPECT_TRUE(SamePath(dir_ + L"\\out", log.extractTarget)) << qtest::Utf8(log.extractTarget);
  EXPECT_EQ(L"x", log.extractImageName);
  ExpectRisingTo100(log.extractPercent);

  // Single paths, named in another case, land directly in the target.
  qtest::MakeDirs(dir_ + L"\\picked");
  const wchar_t* paths[] = {L"\\SUB\\Big.bin", L"\\\u4e2d\u6587\u6587\u4ef6.txt", L"\\\u76ee\u5f55\\\U00020000\u5b57"};
  ASSERT_EQ(0, api.extract_paths(wim.p, 1, (dir_ + L"\\picked").c_str(), paths, 3, wl::kExtractNoPreserveDirStructure));
  auto picked = ReadTree(dir_ + L"\\picked");
  EXPECT_EQ(qtest::ReadFileBytes(src + L"\\sub\\big.bin"), picked[L"\\big.bin"]);
  EXPECT_EQ(qtest::ReadFileBytes(src + L"\\\u4e2d\u6587\u6587\u4ef6.txt"), picked[L"\\\u4e2d\u6587\u6587\u4ef6.txt"]);
  EXPECT_EQ("deep\n", picked[L"\\\U00020000\u5b57\\\U0001F4C4 \u6570\u636e.txt"]);
  EXPECT_EQ(4u, picked.size());

  // A path list file with Windows paths in UTF-16.
  std::wstring list = L"\xFEFF\\sub\\deeper\\repeat.txt\r\n";
  qtest::WriteFileBytes(L"list.txt", std::string((const char*)list.data(), list.size() * 2));
  ASSERT_EQ(0, api.extract_pathlist(wim.p, 1, L"listed", L"list.txt", 0));
  EXPECT_EQ(std::string(100000, 'a'), qtest::ReadFileBytes(dir_ + L"\\listed\\sub\\deeper\\repeat.txt"));
}

TEST_F(bridge, ExportDeleteAndEditImages) {
  std::wstring src = MakeSource(dir_);
  std::wstring two = dir_ + L"\\two.wim";
  {
    Wim wim;
    ASSERT_EQ(0, api.create_new_wim(wl::kCompressXpress, &wim.p));
    ASSERT_EQ(0, api.add_image(wim.p, src.c_str(), L"first", nullptr, 0));
    ASSERT_EQ(0, api.add_image(wim.p, (src + L"\\sub").c_str(), L"\u7b2c\u4e8c", nullptr, 0));
    ASSERT_EQ(0, api.write(wim.p, two.c_str(), wl::kAllImages, 0, 0));
  }

  // Export image 2 into a new file and once more into the same file.
  std::wstring dest = dir_ + L"\\dest.wim";
  {
    Wim from, to;
    ASSERT_EQ(0, api.open_wim(two.c_str(), 0, &from.p));
    ASSERT_EQ(0, api.create_new_wim(wl::kCompressLzx, &to.p));
    ASSERT_EQ(0, api.export_image(from.p, 2, to.p, nullptr, nullptr, wl::kExportGift));
    ASSERT_EQ(0, api.write(to.p, dest.c_str(), wl::kAllImages, 0, 0));
  }
  {
    Wim from, to;
    ASSERT_EQ(0, api.open_wim(two.c_str(), 0, &from.p));
    ASSERT_EQ(0, api.open_wim(dest.c_str(), wl::kOpenWriteAccess, &to.p));
    EXPECT_EQ(wl::kErrImageNameCollision, api.export_image(from.p, 2, to.p, nullptr, nullptr, 0));
    ASSERT_EQ(0, api.export_image(from.p, 2, to.p, L"\u526f\u672c", L"\u63cf\u8ff0", 0));
    ASSERT_EQ(0, api.overwrite(to.p, 0, 0));
  }
  ExpectImagexVerifies(dest);
  EXPECT_NE(std::string::npos, ImagexInfo(dest, 2).find(qtest::Utf8(L"\u526f\u672c")));

  // Delete image 1 and edit the texts of the remaining one in place.
  {
    Wim wim;
    ASSERT_EQ(0, api.open_wim(two.c_str(), wl::kOpenWriteAccess, &wim.p));
    ASSERT_EQ(0, api.delete_image(wim.p, 1));
    ASSERT_EQ(0, api.set_image_name(wim.p, 1, L"\u65b0\u540d"));
    ASSERT_EQ(0, api.set_image_descripton(wim.p, 1, L"\u65e7\u62fc\u5199"));
    ASSERT_EQ(0, api.set_image_flags(wim.p, 1, L"Professional"));
    ASSERT_EQ(0, api.set_image_property(wim.p, 1, L"DISPLAYNAME", L"\u663e\u793a \U0001F600"));
    EXPECT_EQ(std::wstring(L"\u663e\u793a \U0001F600"), api.get_image_property(wim.p, 1, L"DISPLAYNAME"));
    ASSERT_EQ(0, api.overwrite(wim.p, 0, 0));
  }
  ExpectImagexVerifies(two);
  std::string info = ImagexInfo(two, 1);
  EXPECT_NE(std::string::npos, info.find(qtest::Utf8(L"\u65b0\u540d"))) << info;
  EXPECT_NE(std::string::npos, info.find(qtest::Utf8(L"\u65e7\u62fc\u5199"))) << info;
  EXPECT_NE(std::string::npos, info.find("Professional")) << info;

  Wim wim;
  ASSERT_EQ(0, api.open_wim(two.c_str(), wl::kOpenWriteAccess, &wim.p));
  wl::WimInfo wi{};
  ASSERT_EQ(0, api.get_wim_info(wim.p, &wi));
  EXPECT_EQ(1u, wi.image_count);
  ASSERT_EQ(0, api.set_image_description(wim.p, 1, L"\u6b63\u786e\u62fc\u5199"));
  EXPECT_EQ(std::wstring(L"\u6b63\u786e\u62fc\u5199"), api.get_image_description(wim.p, 1));
  wi.boot_index = 1;
  ASSERT_EQ(0, api.set_wim_info(wim.p, &wi, 4 /* boot index */));
  ASSERT_EQ(0, api.overwrite(wim.p, 0, 0));
  EXPECT_EQ("1", InfoField(ImagexInfo(two, 0), "Boot Index"));
}

TEST_F(bridge, UpdateImageConvertsPathsAndReportsCommands) {
  std::wstring src = MakeSource(dir_);
  std::wstring wimPath = dir_ + L"\\u.wim";
  ASSERT_EQ(0, CaptureNew(src, wimPath, L"u"));
  qtest::WriteFileBytes(dir_ + L"\\\u65b0\u6587\u4ef6.txt", "added\n");

  Wim wim;
  ASSERT_EQ(0, api.open_wim(wimPath.c_str(), wl::kOpenWriteAccess, &wim.p));
  struct Seen {
    std::vector<const void*> begun, ended;
    static int Callback(int msg, wl::ProgressInfo* info, void* ctx) {
      auto* seen = static_cast<Seen*>(ctx);
      if (msg == wl::kMsgUpdateBeginCommand) seen->begun.push_back(info->update.command);
      if (msg == wl::kMsgUpdateEndCommand) seen->ended.push_back(info->update.command);
      return 0;
    }
  } seen;
  api.register_progress_function(wim.p, &Seen::Callback, &seen);

  wl::UpdateCommand cmds[3] = {};
  cmds[0].op = 0;
  cmds[0].add.fs_source_path = L"\u65b0\u6587\u4ef6.txt";  // relative to the current directory
  cmds[0].add.wim_target_path = L"\\\u76ee\u5f55\\added.txt";
  cmds[1].op = 2;
  cmds[1].rename.wim_source_path = L"\\sub\\\U0001F600.txt";
  cmds[1].rename.wim_target_path = L"\\sub\\\U0001F601.txt";
  cmds[2].op = 1;
  cmds[2].del.wim_path = L"\\sub\\deeper";
  cmds[2].del.delete_flags = wl::kDeleteRecursive;
  ASSERT_EQ(0, api.update_image(wim.p, 1, cmds, 3, wl::kUpdateSendProgress));
  // The messages name the caller's own commands.
  std::vector<const void*> expected{&cmds[0], &cmds[1], &cmds[2]};
  EXPECT_EQ(expected, seen.begun);
  EXPECT_EQ(expected, seen.ended);

  ASSERT_EQ(0, api.rename_path(wim.p, 1, L"\\small.txt", L"\\\u5c0f.txt"));
  ASSERT_EQ(0, api.delete_path(wim.p, 1, L"\\zero.bin", 0));
  ASSERT_EQ(0, api.add_tree(wim.p, 1, (src + L"\\empty").c_str(), L"\\\u7a7a", 0));
  ASSERT_EQ(0, api.overwrite(wim.p, 0, 0));

  ExpectImagexVerifies(wimPath);
  qtest::UnixResult dir = qtest::RunUnix("wimlib-imagex dir " + qtest::ShQuote(qtest::UnixPath(wimPath)) + " 1");
  ASSERT_EQ(0, dir.exitCode) << dir.output;
  for (const wchar_t* present : {L"/\u76ee\u5f55/added.txt", L"/sub/\U0001F601.txt", L"/\u5c0f.txt", L"/\u7a7a"})
    EXPECT_NE(std::string::npos, dir.output.find(qtest::Utf8(present) + "\n")) << qtest::Utf8(present);
  for (const wchar_t* gone : {L"/sub/deeper", L"/sub/\U0001F600.txt", L"/small.txt", L"/zero.bin"})
    EXPECT_EQ(std::string::npos, dir.output.find(qtest::Utf8(gone) + "\n")) << qtest::Utf8(gone);
}

// The progress function decides which files a capture leaves out.
struct Excluder {
  std::vector<std::wstring> asked;
  static int Callback(int msg, wl::ProgressInfo* info, void* ctx) {
    if (msg != wl::kMsgTestFileExclusion) return 0;
    std::wstring path = info->test_file_exclusion.path;
    static_cast<Excluder*>(ctx)->asked.push_back(path);
    size_t slash = path.find_last_of(L'\\');
    std::wstring name = path.substr(slash + 1);
    info->test_file_exclusion.will_exclude = name == L"big.bin" || name == L"\u76ee\u5f55";
    return 0;
  }
};

TEST_F(bridge, ProgressFunctionCanExcludeFilesFromCapture) {
  std::wstring src = MakeSource(dir_);
  Excluder ex;
  {
    Wim wim;
    ASSERT_EQ(0, api.create_new_wim(wl::kCompressXpress, &wim.p));
    api.register_progress_function(wim.p, &Excluder::Callback, &ex);
    ASSERT_EQ(0, api.add_image(wim.p, src.c_str(), L"ex", nullptr, wl::kAddTestFileExclusion));
    ASSERT_EQ(0, api.write(wim.p, L"ex.wim", wl::kAllImages, 0, 0));
  }
  EXPECT_NE(ex.asked.end(), std::find_if(ex.asked.begin(), ex.asked.end(), [&](const std::wstring& p) {
              return SamePath(src + L"\\sub\\big.bin", p);
            })) << "asked with Windows paths";

  Wim wim;
  ASSERT_EQ(0, api.open_wim(L"ex.wim", 0, &wim.p));
  DirLog all;
  ASSERT_EQ(0, api.iterate_dir_tree(wim.p, 1, L"\\", wl::kIterateRecursive, &DirLog::Callback, &all));
  EXPECT_EQ(0u, all.attributes.count(L"\\sub\\big.bin"));
  EXPECT_EQ(0u, all.attributes.count(L"\\\u76ee\u5f55"));
  EXPECT_EQ(1u, all.attributes.count(L"\\sub\\deeper\\repeat.txt"));
}

TEST_F(bridge, SplitAndReferencePartsWithGlobOfOtherCase) {
  std::wstring src = MakeSource(dir_, 3 << 20);
  ASSERT_EQ(0, CaptureNew(src, dir_ + L"\\whole.wim", L"whole", wl::kCompressXpress));

  qtest::MakeDirs(dir_ + L"\\parts");
  ProgressLog log;
  {
    Wim wim;
    ASSERT_EQ(0, api.open_wim(L"whole.wim", 0, &wim.p));
    api.register_progress_function(wim.p, &ProgressLog::Callback, &log);
    ASSERT_EQ(0, api.split(wim.p, L"parts\\base.wim", 1 << 20, wl::kWriteNoCheckIntegrity));
  }
  ASSERT_GE(log.partNames.size(), 3u);
  EXPECT_TRUE(SamePath(dir_ + L"\\parts\\base.wim", log.partNames[0])) << qtest::Utf8(log.partNames[0]);
  EXPECT_TRUE(SamePath(dir_ + L"\\parts\\base2.wim", log.partNames[1])) << qtest::Utf8(log.partNames[1]);
  EXPECT_EQ(2u, log.partNumbers[1]);
  ExpectImagexVerifies(dir_ + L"\\parts\\base.wim",
                       " --ref=" + qtest::ShQuote(qtest::UnixPath(dir_ + L"\\parts") + "/base*.wim"));

  Wim first;
  ASSERT_EQ(0, api.open_wim(L"parts\\base.wim", 0, &first.p));
  wl::WimInfo wi{};
  ASSERT_EQ(0, api.get_wim_info(first.p, &wi));
  EXPECT_EQ(1, wi.part_number);
  EXPECT_EQ(log.partNames.size(), wi.total_parts);

  // Without the other parts the data is missing.
  EXPECT_EQ(wl::kErrResourceNotFound, api.extract_image(first.p, 1, L"incomplete", 0));

  // A glob that finds nothing fails only when asked to.
  const wchar_t* none[] = {L"parts\\NONE*.WIM"};
  EXPECT_EQ(wl::kErrGlobHadNoMatches,
            api.reference_resource_files(first.p, none, 1, wl::kRefGlobEnable | wl::kRefGlobErrOnNoMatch, 0));

  // The program's glob "<base>*.WIM" in upper case finds base2.wim etc.
  const wchar_t* glob[] = {L"PARTS\\BASE*.WIM"};
  ASSERT_EQ(0, api.reference_resource_files(first.p, glob, 1, wl::kRefGlobEnable, 0));
  ASSERT_EQ(0, api.extract_image(first.p, 1, L"joined", 0));
  EXPECT_EQ(ReadTree(src), ReadTree(dir_ + L"\\joined"));

  // The progress function may send a part elsewhere, here by a relative
  // Windows path.
  struct Redirect {
    wchar_t name[MAX_PATH] = L"\u53e6\\\u7b2c\u4e8c\u90e8\u5206.swm";
    static int Callback(int msg, wl::ProgressInfo* info, void* ctx) {
      if (msg == wl::kMsgSplitBeginPart && info->split.cur_part_number == 2)
        info->split.part_name = static_cast<Redirect*>(ctx)->name;
      return 0;
    }
  } redirect;
  qtest::MakeDirs(dir_ + L"\\\u53e6");
  Wim whole;
  ASSERT_EQ(0, api.open_wim(L"whole.wim", 0, &whole.p));
  api.register_progress_function(whole.p, &Redirect::Callback, &redirect);
  ASSERT_EQ(0, api.split(whole.p, L"moved.swm", 1 << 20, 0));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(L"moved2.swm"));
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(redirect.name));
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(L"moved3.swm"));
}

TEST_F(bridge, VerifyAndErrorCodes) {
  std::wstring src = MakeSource(dir_, 1 << 20);
  ASSERT_EQ(0, CaptureNew(src, dir_ + L"\\good.wim", L"good", wl::kCompressNone));

  Wim good;
  ASSERT_EQ(0, api.open_wim(L"good.wim", 0, &good.p));
  ProgressLog log;
  api.register_progress_function(good.p, &ProgressLog::Callback, &log);
  EXPECT_EQ(0, api.verify_wim(good.p, 0));
  EXPECT_TRUE(log.Saw(wl::kMsgBeginVerifyImage));
  EXPECT_TRUE(log.Saw(wl::kMsgVerifyStreams));
  EXPECT_EQ(wl::kErrInvalidImage, api.extract_image(good.p, 5, L"bad-index", 0));
  EXPECT_EQ(0 /* no image */, api.resolve_image(good.p, L"no such name"));

  // A damaged copy fails verification.
  std::string bytes = qtest::ReadFileBytes(dir_ + L"\\good.wim");
  size_t at = bytes.find("hello quarry");
  ASSERT_NE(std::string::npos, at) << "uncompressed file data is in the file";
  bytes[at] ^= 0x55;
  qtest::WriteFileBytes(dir_ + L"\\bad.wim", bytes);
  Wim bad;
  ASSERT_EQ(0, api.open_wim(L"bad.wim", 0, &bad.p));
  EXPECT_NE(0, api.verify_wim(bad.p, 0));

  Wim missing;
  EXPECT_EQ(wl::kErrOpen, api.open_wim(L"missing\\nothing.wim", 0, &missing.p));
  EXPECT_EQ(nullptr, missing.p);

  const wchar_t* text = api.get_error_string(wl::kErrOpen);
  ASSERT_NE(nullptr, text);
  EXPECT_GT(wcslen(text), 5u);
  EXPECT_EQ(text, api.get_error_string(wl::kErrOpen));
}

struct WorkerCapture {
  std::wstring src, wimPath;
  ProgressLog log;
  DWORD threadId = 0;
  int result = -1;

  static DWORD WINAPI Run(void* p) {
    auto* w = static_cast<WorkerCapture*>(p);
    w->threadId = GetCurrentThreadId();
    Wim wim;
    w->result = api.create_new_wim(wl::kCompressLzx, &wim.p);
    if (w->result) return 0;
    api.register_progress_function(wim.p, &ProgressLog::Callback, &w->log);
    w->result = api.add_image(wim.p, w->src.c_str(), L"worker", nullptr, wl::kAddWinConfig | wl::kAddVerbose);
    if (!w->result) w->result = api.write(wim.p, w->wimPath.c_str(), wl::kAllImages, 0, 2);
    api.global_cleanup();
    return 0;
  }
};

TEST_F(bridge, CallbacksRunOnTheCallingWorkerThread) {
  WorkerCapture w;
  w.src = MakeSource(dir_, 6 << 20);
  w.wimPath = dir_ + L"\\worker.wim";
  HANDLE h = CreateThread(nullptr, 0, &WorkerCapture::Run, &w, 0, nullptr);
  ASSERT_NE(nullptr, h);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(h, 120000));
  CloseHandle(h);

  ASSERT_EQ(0, w.result);
  EXPECT_EQ(std::set<DWORD>{w.threadId}, w.log.threads);
  ExpectRisingTo100(w.log.writePercent);
  // Verbose scanning names every file with its Windows path.
  EXPECT_NE(w.log.scannedPaths.end(),
            std::find_if(w.log.scannedPaths.begin(), w.log.scannedPaths.end(), [&](const std::wstring& p) {
              return SamePath(w.src + L"\\sub\\\U0001F600.txt", p);
            }));
  ExpectImagexVerifies(w.wimPath);
}

}  // namespace
