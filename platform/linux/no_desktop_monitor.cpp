// The Linux build has no desktop key source yet: nothing to monitor with.
#include "platform/platform.h"

MonitorHandle addGlobalMonitor(std::uint64_t, MonitorHandler) { return nullptr; }
