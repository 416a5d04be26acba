// Browsing through wimlib: the folders of an image listed from a file held
// open, and files and folders taken out of an image.
#include "engine/failure_reason.h"
#include "engine/progress.h"
#include "engine/wimlib_engine.h"

namespace {

class WimlibBrowsedWim : public BrowsedWim {
 public:
  explicit WimlibBrowsedWim(const WimlibTable& api) : api_(api), wim_(api) {}
  WIMStruct** out() { return wim_.out(); }

  bool ListFolder(int image, const std::wstring& folder, FolderListing& out) override {
    if (!api_.iterate_dir_tree) return false;
    std::wstring root = folder.empty() ? L"\\" : folder;
    api_.iterate_dir_tree(wim_.get(), image, root.c_str(), WIMLIB_ITERATE_DIR_TREE_FLAG_CHILDREN, AddEntry, &out);
    return true;
  }

 private:
  static int AddEntry(const wimlib_dir_entry* entry, void* context) {
    FolderEntry item;
    item.isFolder = (entry->attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    item.createdSeconds = entry->creation_time.tv_sec;
    item.createdNanoseconds = static_cast<int32_t>(entry->creation_time.tv_nsec);
    // The first stream whose data is there tells the sizes.
    for (uint32_t i = 0; !item.isFolder && i <= entry->num_named_streams; i++) {
      const wimlib_resource_entry& r = entry->streams[i].resource;
      if (r.is_missing) continue;
      item.hasData = true;
      item.size = r.uncompressed_size;
      item.compressed = r.packed ? r.raw_resource_compressed_size : r.compressed_size;
      break;
    }
    static_cast<FolderListing*>(context)->Add(item, entry->filename);
    return 0;
  }

  const WimlibTable& api_;
  WimlibWim wim_;
};

// Progress of one extraction, to its own display only; its own cancel
// flag stops it.
enum wimlib_progress_status ExtractProgress(enum wimlib_progress_msg msg, union wimlib_progress_info* info,
                                            void* context) {
  auto* operation = static_cast<const OperationContext*>(context);
  if (operation->cancel && operation->cancel->Requested()) return WIMLIB_PROGRESS_STATUS_ABORT;
  if (operation->progress && info && msg == WIMLIB_PROGRESS_MSG_EXTRACT_STREAMS) {
    float percent = WimlibPercent(info->extract.completed_bytes, info->extract.total_bytes);
    if (percent >= 0.0f) operation->progress->SetPercent(percent);
  }
  return WIMLIB_PROGRESS_STATUS_CONTINUE;
}

}  // namespace

std::unique_ptr<BrowsedWim> WimlibEngine::OpenForBrowsing(const std::wstring& wimPath) {
  if (!api_.open_wim || !api_.free) return nullptr;
  auto wim = std::make_unique<WimlibBrowsedWim>(api_);
  if (api_.open_wim(wimPath.c_str(), 0, wim->out()) != 0) {
    ShowApiError(context_, L"WIMLIB_open_wim");
    return nullptr;
  }
  return wim;
}

EngineResult WimlibEngine::Extract(const ExtractRequest& request) {
  if (!api_.open_wim || !api_.extract_paths || !api_.free) return kResultNotBound;
  const CancelToken* cancel = context_.cancel;
  if (cancel && cancel->Requested()) return kResultAborted;
  ClearFailure();
  NoteOperationTarget(request.target);
  WimlibWim wim(api_);
  int result = NoteWimlibFailure(api_.open_wim(request.wimPath.c_str(), 0, wim.out()));
  if (result == 0) {
    if (api_.register_progress_function)
      api_.register_progress_function(wim.get(), ExtractProgress, &context_);
    ReferenceSplitParts(wim.get(), request.wimPath);
    std::vector<const wchar_t*> paths;
    for (const std::wstring& path : request.paths) paths.push_back(path.c_str());
    result = NoteWimlibFailure(api_.extract_paths(wim.get(), request.image, request.target.c_str(), paths.data(),
                                                  paths.size(), WIMLIB_EXTRACT_FLAG_NO_PRESERVE_DIR_STRUCTURE));
  }
  if (context_.progress) context_.progress->SetPercent(100);
  if (result == WIMLIB_ERR_ABORTED_BY_PROGRESS || (result != 0 && cancel && cancel->Requested()))
    return kResultAborted;
  return result;
}
