// The delete and edit page's save through wimlib: the metadata of the
// images that stay, the deletion of the others and the boot index all go
// into the open file, which is then rewritten once. The rewrite stops at the
// user's abort, and the library leaves the file as it was.
#include "engine/failure_reason.h"
#include "engine/image_xml.h"
#include "engine/mount_guard.h"
#include "engine/progress.h"
#include "engine/wimlib_engine.h"

namespace {

const wchar_t* OrNull(const std::wstring& text) { return text.empty() ? nullptr : text.c_str(); }

}  // namespace

EngineResult WimlibEngine::Delete(const DeleteRequest& request) {
  if (!api_.open_wim || !api_.get_wim_info || !api_.delete_image || !api_.set_wim_info || !api_.overwrite ||
      !api_.set_image_name || !api_.set_image_descripton || !api_.set_image_flags ||
      !api_.register_progress_function || !api_.free)
    return kResultNotBound;
  if (request.rows.empty()) return kResultFailed;
  if (RefuseMountedWrite({request.wimPath})) return kResultFailed;
  if (AbortedBeforeStart()) return kResultAborted;
  NoteOperationTarget(request.wimPath);

  WimlibWim wim(api_);
  if (api_.open_wim(request.wimPath.c_str(), WIMLIB_OPEN_FLAG_WRITE_ACCESS, wim.out())) return kResultFailed;
  wimlib_wim_info info = {};
  if (api_.get_wim_info(wim.get(), &info) || static_cast<int>(info.image_count) != request.imageCount)
    return kResultFailed;
  api_.register_progress_function(wim.get(), WimlibProgress, &op_);
  // What could be set is still written; the save then fails as a whole.
  bool ok = EditImages(wim.get(), request) == 0;
  EngineResult result = Outcome(api_.overwrite(wim.get(), 0, 0));
  return result == kResultSuccess && !ok ? kResultFailed : result;
}

int WimlibEngine::EditImages(WIMStruct* wim, const DeleteRequest& request) {
  // The display texts and every further property have no setter of their
  // own; an empty display text removes its element.
  PFN_wimlib_set_image_property setProperty = api_.set_image_property;
  int failed = setProperty ? 0 : -1;
  auto keep = [&failed](int ret) {
    if (!failed) failed = ret;
  };
  for (const ImageRow& row : request.rows) {
    // An emptied name, description or edition is removed, not left as it was.
    keep(api_.set_image_name(wim, row.index, row.info.name.c_str()));
    keep(api_.set_image_descripton(wim, row.index, row.info.description.c_str()));
    keep(api_.set_image_flags(wim, row.index, row.info.flags.c_str()));
    if (!setProperty) continue;
    keep(setProperty(wim, row.index, L"DISPLAYNAME", OrNull(row.info.displayName)));
    keep(setProperty(wim, row.index, L"DISPLAYDESCRIPTION", OrNull(row.info.displayDescription)));
    // In their order: an added occurrence follows the one before it, and a
    // removal goes from the last occurrence down.
    for (const PropertyChange& change : row.info.properties)
      keep(setProperty(wim, row.index, PropertyName(change).c_str(), change.remove ? nullptr : OrNull(change.value)));
  }
  for (int index : IndexesToDelete(request.rows, request.imageCount)) keep(api_.delete_image(wim, index));
  wimlib_wim_info info = {};
  info.boot_index = static_cast<uint32_t>(BootPosition(request.rows));
  keep(api_.set_wim_info(wim, &info, WIMLIB_CHANGE_BOOT_INDEX));
  return failed;
}
