// Reading a whole image tree through wimlib: one recursive walk of the
// image's metadata, which holds every fact of a file but its data.
#include <cwchar>

#include "engine/failure_reason.h"
#include "engine/wimlib_engine.h"

namespace {

// Returned by the walk's function to stop it at the user's cancel; wimlib
// hands a non-zero return of that function back unchanged.
constexpr int kWalkCancelled = 0x51235;

// How often (in entries) the walk reports progress and looks at the cancel.
constexpr size_t kCheckEvery = 256;

struct Walk {
  ImageTree* tree = nullptr;
  const OperationContext* context = nullptr;
  uint64_t expected = 0;  // files and folders the image's information counts; 0 unknown
};

int64_t Ticks(const wimlib_timespec& time) {
  return static_cast<int64_t>(time.tv_sec) * 10000000 + time.tv_nsec / 100;
}

int AddEntry(const wimlib_dir_entry* entry, void* param) {
  auto* walk = static_cast<Walk*>(param);
  std::vector<TreeEntry>& entries = walk->tree->entries;
  entries.emplace_back();
  TreeEntry& item = entries.back();
  item.path = entry->full_path ? entry->full_path : L"";
  if (item.path.empty()) item.path = L"\\";
  item.attributes = entry->attributes;
  item.reparseTag = entry->reparse_tag;
  item.created = Ticks(entry->creation_time);
  item.written = Ticks(entry->last_write_time);
  item.accessed = Ticks(entry->last_access_time);
  if (entry->security_descriptor && entry->security_descriptor_size) {
    item.hasSecurity = true;
    item.securitySize = static_cast<uint32_t>(entry->security_descriptor_size);
    item.securityDigest = DigestBytes(entry->security_descriptor, entry->security_descriptor_size);
  }
  item.links = entry->num_links;
  // wimlib gives every file a group id; only one shared by several names
  // is a hard-link group.
  item.linkGroup = entry->num_links > 1 ? entry->hard_link_group_id : 0;
  item.streams.reserve(entry->num_named_streams + 1);
  for (uint32_t i = 0; i <= entry->num_named_streams; i++) {
    const wimlib_stream_entry& source = entry->streams[i];
    TreeStream stream;
    if (source.stream_name) stream.name = source.stream_name;
    memcpy(stream.sha1, source.resource.sha1_hash, sizeof(stream.sha1));
    stream.size = source.resource.uncompressed_size;
    if (i == 0 && stream.name.empty()) item.size = stream.size;
    item.streams.push_back(std::move(stream));
  }
  // A folder's entry 0 has no data; it says nothing about the folder.
  if (item.IsFolder() && item.streams.size() == 1 && item.streams[0].size == 0 &&
      item.streams[0].name.empty())
    item.streams.clear();

  if (entries.size() % kCheckEvery == 0) {
    const OperationContext& context = *walk->context;
    if (context.cancel && context.cancel->Requested()) return kWalkCancelled;
    if (context.progress && walk->expected) {
      double share = static_cast<double>(entries.size()) / static_cast<double>(walk->expected);
      context.progress->SetPercent(static_cast<float>(share >= 1.0 ? 99.0 : share * 100.0));
    }
  }
  return 0;
}

// "C:\x\install.swm" -> "C:\x\install*.swm"; a dot in a folder name starts no extension.
std::wstring PartsGlob(const std::wstring& firstPart) {
  size_t nameStart = firstPart.find_last_of(L"\\/:");
  nameStart = nameStart == std::wstring::npos ? 0 : nameStart + 1;
  size_t dot = firstPart.rfind(L'.');
  if (dot == std::wstring::npos || dot < nameStart) return firstPart + L"*";
  return firstPart.substr(0, dot) + L"*" + firstPart.substr(dot);
}

uint64_t PropertyNumber(const WimlibTable& api, WIMStruct* wim, int image, const wchar_t* name) {
  if (!api.get_image_property) return 0;
  const wchar_t* text = api.get_image_property(wim, image, name);
  return text ? wcstoull(text, nullptr, 10) : 0;
}

}  // namespace

EngineResult WimlibEngine::ReadTree(const TreeRequest& request, ImageTree& out) {
  if (!api_.open_wim || !api_.iterate_dir_tree || !api_.free) return kResultNotBound;
  const CancelToken* cancel = context_.cancel;
  if (cancel && cancel->Requested()) return kResultAborted;
  ClearFailure();
  out.wimPath = request.wimPath;
  out.image = request.image;
  out.entries.clear();
  WimlibWim wim(api_);
  if (NoteWimlibFailure(api_.open_wim(request.wimPath.c_str(), 0, wim.out())) != 0) return kResultFailed;
  // The sizes of data kept in the further parts of a split set, whose
  // names share the first part's base and extension ("install.swm",
  // "install2.swm").
  wimlib_wim_info info = {};
  if (api_.get_wim_info && api_.reference_resource_files && api_.get_wim_info(wim.get(), &info) == 0 &&
      info.total_parts > 1) {
    std::wstring glob = PartsGlob(request.wimPath);
    const wchar_t* globs[1] = {glob.c_str()};
    api_.reference_resource_files(wim.get(), globs, 1, WIMLIB_REF_FLAG_GLOB_ENABLE, 0);
  }
  Walk walk;
  walk.tree = &out;
  walk.context = &context_;
  walk.expected = PropertyNumber(api_, wim.get(), request.image, L"FILECOUNT") +
                  PropertyNumber(api_, wim.get(), request.image, L"DIRCOUNT");
  if (walk.expected) out.entries.reserve(static_cast<size_t>(walk.expected) + 1);
  int ret = api_.iterate_dir_tree(wim.get(), request.image, L"\\", WIMLIB_ITERATE_DIR_TREE_FLAG_RECURSIVE, AddEntry,
                                  &walk);
  if (ret == kWalkCancelled || (cancel && cancel->Requested())) {
    out.entries.clear();
    return kResultAborted;
  }
  if (ret != 0) {
    NoteWimlibFailure(ret);
    out.entries.clear();
    return kResultFailed;
  }
  if (context_.progress) context_.progress->SetPercent(100);
  return kResultSuccess;
}
