#include "hotkey/monitor.h"

#include "hotkey/tracker.h"
#include "protocol/emit.h"
#include "protocol/lines.h"

MonitorHandle monitor = nullptr;

void setUpMonitor() { monitor = nullptr; }

void installMonitor() {
  if (monitor != nullptr) return;
  monitor = addGlobalMonitor(monitorEventMask, onMonitorEvent);
  emit(monitor != nullptr ? lineMonitorInstalled : lineMonitorInstallFailed);
}
