#include "controls/control_context.h"

ControlContext& Controls() {
  static ControlContext context;
  return context;
}

CLIPFORMAT PrivateClipboardFormat() {
  static const CLIPFORMAT format =
      static_cast<CLIPFORMAT>(RegisterClipboardFormatW(L"KLO.Quarry.OwnDragData"));
  return format;
}
