#include "ui/AppHost.h"

namespace {
IAppHost g_nullHost;
IAppHost* g_host = &g_nullHost;
}  // namespace

IAppHost& AppHost() { return *g_host; }
void SetAppHost(IAppHost* host) { g_host = host ? host : &g_nullHost; }
