#include "main/startup.h"

#include "accessibility/trust.h"
#include "hotkey/modifier.h"
#include "hotkey/monitor.h"
#include "hotkey/tracker.h"
#include "platform/platform.h"
#include "protocol/command_reader.h"
#include "protocol/emit.h"
#include "protocol/lines.h"

std::string modifierName;

int runHelper(int argc, char** argv) {
  // The name is kept exactly as given: it is echoed back in every line, and
  // anything the table does not know simply watches option.
  modifierName = argc >= 2 ? argv[1] : "option";
  setUpModifiers(modifierName);
  armDelayMs = 150;

  emit(lineReady);
  std::string watching(lineWatchingPrefix);
  watching += modifierName;
  emit(watching);

  checkTrustWithPrompt();

  monitor = nullptr;
  setUpTracker();
  if (trusted) installMonitor();

  scheduleRepeatingTimer(trustPollIntervalMs, pollTrust);
  startBackgroundWorker(readCommands);

  runApplicationLoop();
  return 0;
}
