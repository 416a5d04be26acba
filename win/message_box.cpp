#include "win/message_box.h"

#include <mutex>

namespace {
std::mutex g_lock;
MessageBoxHandler g_handler;
}  // namespace

int AppMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT style) {
  MessageBoxHandler handler;
  {
    std::lock_guard<std::mutex> guard(g_lock);
    handler = g_handler;
  }
  if (handler) return handler(owner, text, caption, style);
  return MessageBoxW(owner, text.c_str(), caption.c_str(), style);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  std::lock_guard<std::mutex> guard(g_lock);
  std::swap(g_handler, handler);
  return handler;
}
