// Accessibility trust: one prompted check at start-up, then a quiet poll.
// Main thread only.
#pragma once

#include <cstdint>

#include "accessibility/ax.h"

inline constexpr std::int64_t trustPollIntervalMs = 1500;

extern AxRef promptKey;
extern AxRef promptOpts;
extern bool trusted;

void checkTrustWithPrompt();
void pollTrust();
