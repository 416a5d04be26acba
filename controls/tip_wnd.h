// A short notice over the main window: a translucent yellow callout with a
// shadow near the bottom left of the window's client area, shown for five
// seconds. The window covers the whole client area; everything but the
// callout is fully transparent.
#pragma once
#include <windows.h>

#include <string>

#include "win/window.h"

class CMyTipWnd : public Window {
 public:
  static constexpr UINT kShowMs = 5000;

  // Creates a hidden tip at (0, 0), 250 x 150, owned by `owner`. The object
  // deletes itself when its window is destroyed and then clears *slot (when
  // *slot still points to it). Returns null when the window cannot be made.
  static CMyTipWnd* Create(HWND owner, CMyTipWnd** slot);

  // Stores the text, starts the five-second timer and shows the tip
  // without activating it.
  void Start(const std::wstring& text);

  // Moves and sizes the tip (screen coordinates) and redraws it.
  void Place(int x, int y, int width, int height);

  const std::wstring& text() const { return text_; }

  // The right edge of the callout for the current text (its width plus 95).
  int CalloutRight() const;

 protected:
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  void OnFinalDestroy() override;

 private:
  CMyTipWnd() = default;
  ~CMyTipWnd() override = default;
  void Render();

  std::wstring text_;
  CMyTipWnd** slot_ = nullptr;
};
