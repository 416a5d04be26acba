// Changing the files of an image in place through wimlib: every command in
// one wimlib_update_image, then one wimlib_overwrite, which appends the new
// data after the file's old end and writes the header last. A write that
// fails or is stopped is taken back to the old length and the old header,
// so that the file is byte for byte what it was.
#include <string>
#include <vector>

#include "engine/failure_reason.h"
#include "engine/image_update.h"
#include "engine/progress.h"
#include "engine/wimlib_engine.h"
#include "win/handles.h"
#include "win/long_path.h"

bool InPlaceGuard::Take(const std::wstring& path) {
  taken_ = false;
  path_ = path;
  UniqueHandle file(CreateFileW(LongPathForm(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return false;
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file.get(), &size) || !GetFileTime(file.get(), nullptr, nullptr, &written_)) return false;
  size_ = static_cast<uint64_t>(size.QuadPart);
  header_.assign(static_cast<size_t>(size_ < kHeaderBytes ? size_ : kHeaderBytes), '\0');
  DWORD read = 0;
  if (!header_.empty() && (!ReadFile(file.get(), &header_[0], static_cast<DWORD>(header_.size()), &read, nullptr) ||
                           read != header_.size()))
    return false;
  taken_ = true;
  return true;
}

bool InPlaceGuard::Unchanged() const {
  if (!taken_) return false;
  InPlaceGuard now;
  return now.Take(path_) && now.size_ == size_ && now.header_ == header_;
}

bool InPlaceGuard::Restore() const {
  if (!taken_) return false;
  UniqueHandle file(CreateFileW(LongPathForm(path_).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
  if (!file) return false;
  LARGE_INTEGER end = {};
  end.QuadPart = static_cast<LONGLONG>(size_);
  DWORD written = 0;
  bool ok = SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) && SetEndOfFile(file.get());
  LARGE_INTEGER start = {};
  ok = ok && SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN);
  ok = ok && (header_.empty() || (WriteFile(file.get(), header_.data(), static_cast<DWORD>(header_.size()), &written,
                                            nullptr) &&
                                  written == header_.size()));
  ok = ok && FlushFileBuffers(file.get());
  SetFileTime(file.get(), nullptr, nullptr, &written_);
  return ok;
}

void InPlaceGuard::RestoreTime() const {
  if (!taken_) return;
  UniqueHandle file(CreateFileW(LongPathForm(path_).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
  if (file) SetFileTime(file.get(), nullptr, nullptr, &written_);
}

namespace {

// An empty folder that stands for every new folder of one update, removed
// when the update is over.
class EmptyFolder {
 public:
  explicit EmptyFolder(const std::wstring& parent) {
    std::wstring base = parent;
    if (base.empty()) {
      wchar_t temp[MAX_PATH + 1] = {};
      DWORD n = GetTempPathW(MAX_PATH + 1, temp);
      base.assign(temp, n);
    }
    while (!base.empty() && (base.back() == L'\\' || base.back() == L'/')) base.pop_back();
    for (int attempt = 0; attempt < 100 && path_.empty(); attempt++) {
      std::wstring candidate = base + L"\\QuarryNewFolder" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                               std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(attempt);
      if (CreateDirectoryW(LongPathForm(candidate).c_str(), nullptr)) path_ = candidate;
    }
  }
  ~EmptyFolder() {
    if (!path_.empty()) RemoveDirectoryW(LongPathForm(path_).c_str());
  }
  EmptyFolder(const EmptyFolder&) = delete;
  EmptyFolder& operator=(const EmptyFolder&) = delete;
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

bool NeedsEmptyFolder(const ImageUpdateRequest& request) {
  for (const ImageUpdateCommand& command : request.commands)
    if (command.op == ImageUpdateOp::kNewFolder) return true;
  return false;
}

wimlib_update_command DeleteCommand(const std::wstring& path) {
  wimlib_update_command c = {};
  c.op = WIMLIB_UPDATE_OP_DELETE;
  c.delete_.wim_path = const_cast<wchar_t*>(path.c_str());
  c.delete_.delete_flags = WIMLIB_DELETE_FLAG_RECURSIVE;
  return c;
}

wimlib_update_command AddCommand(const std::wstring& source, const std::wstring& path) {
  wimlib_update_command c = {};
  c.op = WIMLIB_UPDATE_OP_ADD;
  c.add.fs_source_path = const_cast<wchar_t*>(source.c_str());
  c.add.wim_target_path = const_cast<wchar_t*>(path.c_str());
  c.add.config_file = nullptr;
  // Nothing is replaced without the user's word: a replacement deletes
  // first, and an add onto an existing file fails.
  c.add.add_flags = WIMLIB_ADD_FLAG_NO_REPLACE;
  return c;
}

}  // namespace

EngineResult WimlibEngine::UpdateImage(const ImageUpdateRequest& request) {
  if (!api_.open_wim || !api_.update_image || !api_.overwrite || !api_.register_progress_function || !api_.free)
    return kResultNotBound;
  if (request.commands.empty()) return kResultSuccess;
  if (RefuseMountedWrite({request.wimPath})) return kResultFailed;
  if (AbortedBeforeStart()) return kResultAborted;
  ClearFailure();
  NoteOperationTarget(request.wimPath);

  EmptyFolder emptyFolder(NeedsEmptyFolder(request) ? request.scratchFolder : L"?");
  if (NeedsEmptyFolder(request) && emptyFolder.path().empty()) {
    NoteWin32Failure(GetLastError());
    return kResultFailed;
  }
  std::vector<wimlib_update_command> commands;
  for (const ImageUpdateCommand& command : request.commands) {
    switch (command.op) {
      case ImageUpdateOp::kAdd:
        if (command.replace) commands.push_back(DeleteCommand(command.path));
        commands.push_back(AddCommand(command.source, command.path));
        break;
      case ImageUpdateOp::kNewFolder:
        commands.push_back(AddCommand(emptyFolder.path(), command.path));
        break;
      case ImageUpdateOp::kDelete:
        commands.push_back(DeleteCommand(command.path));
        break;
      case ImageUpdateOp::kRename: {
        wimlib_update_command c = {};
        c.op = WIMLIB_UPDATE_OP_RENAME;
        c.rename.wim_source_path = const_cast<wchar_t*>(command.path.c_str());
        c.rename.wim_target_path = const_cast<wchar_t*>(command.target.c_str());
        commands.push_back(c);
        break;
      }
    }
  }

  InPlaceGuard guard;
  if (!guard.Take(request.wimPath)) {
    NoteWin32Failure(GetLastError());
    return kResultFailed;
  }
  EngineResult result = kResultFailed;
  {
    WimlibWim wim(api_);
    int ret = NoteWimlibFailure(api_.open_wim(request.wimPath.c_str(), WIMLIB_OPEN_FLAG_WRITE_ACCESS, wim.out()));
    if (ret == 0) ret = NoteWimlibFailure(api_.update_image(wim.get(), request.image, commands.data(), commands.size(), 0));
    if (ret == 0 && AbortRequested(context_)) op_.aborted = true;
    if (ret == 0 && !op_.aborted) {
      // Only the write reports and stops: the update itself is quick and
      // touches nothing on disk.
      api_.register_progress_function(wim.get(), WimlibProgress, &op_);
      ret = api_.overwrite(wim.get(), 0, 0);
      result = Outcome(ret);
    } else {
      result = op_.aborted ? kResultAborted : kResultFailed;
    }
  }  // the file is closed (and unlocked) here
  // wimlib cuts a failed append back itself; whatever it left is taken
  // back here, and the file gets its old time too, so that it is the file
  // that was listed.
  if (result != kResultSuccess) {
    if (guard.Unchanged()) guard.RestoreTime();
    else guard.Restore();
  }
  if (result == kResultSuccess && context_.progress) context_.progress->SetPercent(100);
  return result;
}
