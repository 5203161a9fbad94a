#include "accessibility/trust.h"

#include "hotkey/monitor.h"
#include "protocol/emit.h"
#include "protocol/lines.h"

// Built once: the options are only needed for the one prompted check, and a
// dictionary per poll would be a leak in the making.
AxRef promptKey = nullptr;
AxRef promptOpts = nullptr;
bool trusted = false;

namespace {

void emitTrust() { emit(trusted ? lineTrustedTrue : lineTrustedFalse); }

}  // namespace

void checkTrustWithPrompt() {
  promptKey = axCreateString("AXTrustedCheckOptionPrompt");
  promptOpts = axCreateTrueOptions(promptKey);
  trusted = axIsProcessTrusted(promptOpts);
  emitTrust();
}

void pollTrust() {
  const bool now = axIsProcessTrusted(nullptr);
  if (now == trusted) return;
  trusted = now;
  emitTrust();
  // A withdrawal leaves the monitor in place: it simply stops hearing events.
  if (trusted) installMonitor();
}
