// The part of wimlib's Windows ABI that the bridge tests call: wchar_t
// strings, the Windows x64 calling convention, and the structure layouts
// that the Windows build of wimlib uses.  Functions are bound at run time
// from libwim-15.dll, as the program does.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace wl {

struct WIMStruct;

enum : int {
  kAllImages = -1,
  kCompressNone = 0,
  kCompressXpress = 1,
  kCompressLzx = 2,
  kCompressLzms = 3,

  kOpenWriteAccess = 0x4,
  kAddBoot = 0x8,
  kAddNoAcls = 0x20,
  kAddVerbose = 0x4,
  kAddWinConfig = 0x800,
  kAddTestFileExclusion = 0x4000,
  kExtractNoAcls = 0x40,
  kExtractNoPreserveDirStructure = 0x200000,
  kWriteNoCheckIntegrity = 0x2,
  kExportGift = 0x8,
  kRefGlobEnable = 0x1,
  kRefGlobErrOnNoMatch = 0x2,
  kIterateRecursive = 0x1,
  kIterateChildren = 0x2,
  kUpdateSendProgress = 0x1,
  kDeleteRecursive = 0x2,

  kErrGlobHadNoMatches = 8,
  kErrImageNameCollision = 11,
  kErrInvalidImage = 18,
  kErrOpen = 47,
  kErrPathDoesNotExist = 49,
  kErrResourceNotFound = 55,
  kErrAbortedByProgress = 76,

  kFileAttributeDirectory = 0x10,
};

enum ProgressMsg : int {
  kMsgExtractImageBegin = 0,
  kMsgExtractTreeBegin = 1,
  kMsgExtractStreams = 4,
  kMsgScanBegin = 9,
  kMsgScanDentry = 10,
  kMsgScanEnd = 11,
  kMsgWriteStreams = 12,
  kMsgSplitBeginPart = 19,
  kMsgSplitEndPart = 20,
  kMsgUpdateBeginCommand = 21,
  kMsgUpdateEndCommand = 22,
  kMsgBeginVerifyImage = 27,
  kMsgVerifyStreams = 29,
  kMsgTestFileExclusion = 30,
};

struct WimInfo {
  uint8_t guid[16];
  uint32_t image_count;
  uint32_t boot_index;
  uint32_t wim_version;
  uint32_t chunk_size;
  uint16_t part_number;
  uint16_t total_parts;
  int32_t compression_type;
  uint64_t total_bytes;
  uint32_t flag_bits;
  uint32_t reserved[9];
};
static_assert(sizeof(WimInfo) == 88, "wimlib_wim_info");

struct ResourceEntry {
  uint64_t uncompressed_size;
  uint64_t compressed_size;
  uint64_t offset;
  uint8_t sha1_hash[20];
  uint32_t part_number;
  uint32_t reference_count;
  uint32_t flag_bits;
  uint64_t raw_resource_offset_in_wim;
  uint64_t raw_resource_compressed_size;
  uint64_t raw_resource_uncompressed_size;
  uint64_t reserved[1];
};
static_assert(sizeof(ResourceEntry) == 88, "wimlib_resource_entry");

struct StreamEntry {
  const wchar_t* stream_name;
  ResourceEntry resource;
  uint64_t reserved[4];
};
static_assert(sizeof(StreamEntry) == 128, "wimlib_stream_entry");

struct Timespec {
  int64_t tv_sec;
  int32_t tv_nsec;
};

struct DirEntry {
  const wchar_t* filename;
  const wchar_t* dos_name;
  const wchar_t* full_path;
  size_t depth;
  const char* security_descriptor;
  size_t security_descriptor_size;
  uint32_t attributes;
  uint32_t reparse_tag;
  uint32_t num_links;
  uint32_t num_named_streams;
  uint64_t hard_link_group_id;
  Timespec creation_time;
  Timespec last_write_time;
  Timespec last_access_time;
  uint32_t unix_uid, unix_gid, unix_mode, unix_rdev;
  uint8_t object_id[64];
  int32_t creation_time_high, last_write_time_high, last_access_time_high, reserved2;
  uint64_t reserved[4];
  StreamEntry streams[1];  // num_named_streams + 1 entries
};
static_assert(offsetof(DirEntry, attributes) == 48, "wimlib_dir_entry");
static_assert(offsetof(DirEntry, creation_time) == 72, "wimlib_dir_entry");
static_assert(offsetof(DirEntry, streams) == 248, "wimlib_dir_entry");

union ProgressInfo {
  struct {
    uint64_t total_bytes, total_streams, completed_bytes, completed_streams;
    uint32_t num_threads;
    int32_t compression_type;
    uint32_t total_parts, completed_parts;
    uint64_t completed_compressed_bytes;
  } write_streams;
  struct {
    const wchar_t* source;
    const wchar_t* cur_path;
    int status;
    const wchar_t* wim_target_path;
    uint64_t num_dirs_scanned, num_nondirs_scanned, num_bytes_scanned;
  } scan;
  struct {
    uint32_t image, extract_flags;
    const wchar_t* wimfile_name;
    const wchar_t* image_name;
    const wchar_t* target;
    const wchar_t* reserved;
    uint64_t total_bytes, completed_bytes, total_streams, completed_streams;
    uint32_t part_number, total_parts;
    uint8_t guid[16];
    uint64_t current_file_count, end_file_count;
  } extract;
  struct {
    const void* command;
    size_t completed_commands, total_commands;
  } update;
  struct {
    uint64_t total_bytes, completed_bytes;
    unsigned cur_part_number, total_parts;
    wchar_t* part_name;
  } split;
  struct {
    const wchar_t* wimfile;
    uint32_t total_images, current_image;
  } verify_image;
  struct {
    const wchar_t* wimfile;
    uint64_t total_streams, total_bytes, completed_streams, completed_bytes;
  } verify_streams;
  struct {
    const wchar_t* path;
    bool will_exclude;
  } test_file_exclusion;
  uint8_t raw[112];
};
static_assert(sizeof(ProgressInfo) == 112, "wimlib_progress_info");
static_assert(offsetof(ProgressInfo, split.part_name) == 24, "wimlib_progress_info");
static_assert(offsetof(ProgressInfo, extract.target) == 24, "wimlib_progress_info");

struct UpdateCommand {
  int op;  // 0 add, 1 delete, 2 rename
  union {
    struct {
      const wchar_t* fs_source_path;
      const wchar_t* wim_target_path;
      const wchar_t* config_file;
      int add_flags;
    } add;
    struct {
      const wchar_t* wim_path;
      int delete_flags;
    } del;
    struct {
      const wchar_t* wim_source_path;
      const wchar_t* wim_target_path;
      int rename_flags;
    } rename;
  };
};
static_assert(sizeof(UpdateCommand) == 40, "wimlib_update_command");

using ProgressFunc = int (*)(int msg, ProgressInfo* info, void* ctx);
using DirTreeFunc = int (*)(const DirEntry* entry, void* ctx);

// The bound functions; null when the library or the name is missing.
struct Api {
  HMODULE module = nullptr;
  int (*open_wim)(const wchar_t*, int, WIMStruct**) = nullptr;
  int (*extract_image)(WIMStruct*, int, const wchar_t*, int) = nullptr;
  int (*create_new_wim)(int, WIMStruct**) = nullptr;
  int (*reference_resource_files)(WIMStruct*, const wchar_t* const*, unsigned, int, int) = nullptr;
  int (*add_image)(WIMStruct*, const wchar_t*, const wchar_t*, const wchar_t*, int) = nullptr;
  int (*write)(WIMStruct*, const wchar_t*, int, int, unsigned) = nullptr;
  int (*overwrite)(WIMStruct*, int, unsigned) = nullptr;
  int (*iterate_dir_tree)(WIMStruct*, int, const wchar_t*, int, DirTreeFunc, void*) = nullptr;
  int (*extract_paths)(WIMStruct*, int, const wchar_t*, const wchar_t* const*, size_t, int) = nullptr;
  void (*register_progress_function)(WIMStruct*, ProgressFunc, void*) = nullptr;
  int (*get_wim_info)(WIMStruct*, WimInfo*) = nullptr;
  int (*get_xml_data)(WIMStruct*, void**, size_t*) = nullptr;
  int (*set_wim_info)(WIMStruct*, const WimInfo*, int) = nullptr;
  int (*set_image_flags)(WIMStruct*, int, const wchar_t*) = nullptr;
  int (*set_image_name)(WIMStruct*, int, const wchar_t*) = nullptr;
  int (*set_image_descripton)(WIMStruct*, int, const wchar_t*) = nullptr;
  int (*set_image_description)(WIMStruct*, int, const wchar_t*) = nullptr;
  int (*set_output_chunk_size)(WIMStruct*, uint32_t) = nullptr;
  int (*delete_image)(WIMStruct*, int) = nullptr;
  int (*split)(WIMStruct*, const wchar_t*, uint64_t, int) = nullptr;
  int (*export_image)(WIMStruct*, int, WIMStruct*, const wchar_t*, const wchar_t*, int) = nullptr;
  int (*verify_wim)(WIMStruct*, int) = nullptr;
  void (*free_wim)(WIMStruct*) = nullptr;
  void (*global_cleanup)() = nullptr;
  int (*update_image)(WIMStruct*, int, const UpdateCommand*, size_t, int) = nullptr;
  const wchar_t* (*get_error_string)(int) = nullptr;
  int (*set_image_property)(WIMStruct*, int, const wchar_t*, const wchar_t*) = nullptr;
  const wchar_t* (*get_image_property)(WIMStruct*, int, const wchar_t*) = nullptr;
  const wchar_t* (*get_image_name)(WIMStruct*, int) = nullptr;
  const wchar_t* (*get_image_description)(WIMStruct*, int) = nullptr;
  int (*resolve_image)(WIMStruct*, const wchar_t*) = nullptr;
  int (*rename_path)(WIMStruct*, int, const wchar_t*, const wchar_t*) = nullptr;
  int (*delete_path)(WIMStruct*, int, const wchar_t*, int) = nullptr;
  int (*add_tree)(WIMStruct*, int, const wchar_t*, const wchar_t*, int) = nullptr;
  int (*extract_pathlist)(WIMStruct*, int, const wchar_t*, const wchar_t*, int) = nullptr;
};

}  // namespace wl
