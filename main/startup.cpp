#include "main/startup.h"

#include "accessibility/focus.h"
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
  setUpArmDelay();

  emit(lineReady);
  std::string watching(lineWatchingPrefix);
  watching += modifierName;
  emit(watching);

  checkTrustWithPrompt();

  setUpMonitor();
  setUpTracker(modifierName);
  if (trusted) installMonitor();

  scheduleRepeatingTimer(trustPollIntervalMs, pollTrust);
  setUpCommandReader(checkFocus);
  startBackgroundWorker(readCommands);

  runApplicationLoop();
  return 0;
}
