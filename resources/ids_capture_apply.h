// Identifiers: Capture page, apply page, capture options dialog, task queue.
#pragma once
