// The helper's lines as the parent reads them, written out independently of
// the helper's own line catalogue so that a change there shows in tests.
#pragma once

#include <cstdint>
#include <regex>
#include <string>
#include <vector>

inline std::string flagsLine(std::uint64_t raw, bool watched, bool others) {
  return "debug:flagsChanged raw=" + std::to_string(raw) + " watched=" + (watched ? "true" : "false") +
         " others=" + (others ? "true" : "false");
}

// Both shift keys pressed, then both control keys, then both command keys,
// left before right, then all let go in the same order, while option is
// watched: what each backend must make of its own names for those keys.
inline std::vector<std::string> eachModifierInTurnLines() {
  constexpr std::uint64_t shift = 1 << 17, control = 1 << 18, command = 1 << 20;
  const std::uint64_t held[] = {shift, shift, shift | control, shift | control, shift | control | command,
                                shift | control | command, shift | control | command, control | command,
                                control | command, command, command};
  std::vector<std::string> lines;
  for (std::uint64_t flags : held) lines.push_back(flagsLine(flags, false, true));
  lines.push_back(flagsLine(0, false, false));
  return lines;
}

// The first lines of every run: ready, the watching line, the trust line
// and, once trusted, the monitor's line.
inline std::vector<std::string> openingLines(bool trustedAtStart, const std::string& watchedName = "option") {
  std::vector<std::string> lines{"ready", "debug:watching " + watchedName,
                                 trustedAtStart ? "trusted:true" : "trusted:false"};
  if (trustedAtStart) lines.emplace_back("debug:monitor-installed");
  return lines;
}

// Every line the helper may ever write while watching option. The privacy
// tests hold every line to it, so that a line carrying anything else (a key
// typed, a name read) fails them: a new line of the protocol goes here too.
inline const std::regex& protocolLine() {
  static const std::regex pattern(
      "ready|debug:watching option|trusted:(true|false)|debug:monitor-installed|debug:monitor-install-failed|"
      "debug:flagsChanged raw=[0-9]+ watched=(true|false) others=(true|false)|option:(down|up)|"
      "focus:(editable|none)");
  return pattern;
}
