#include "engine/engine_host.h"

namespace {
EngineHost g_defaultHost;
EngineHost* g_host = &g_defaultHost;
}  // namespace

EngineHost& Host() { return *g_host; }

void SetEngineHost(EngineHost* host) { g_host = host ? host : &g_defaultHost; }

CaptureLists SnapshotCaptureLists() { return Host().captureLists; }
