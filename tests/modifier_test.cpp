#include <gtest/gtest.h>

#include "hotkey/modifier.h"

namespace {

// The mask is proven by what the tracker makes of it: tracker_model_test.cpp
// holds it to 0x9F0000 over random sequences, watching every name.
TEST(Modifier, NamesResolveExactlyAndEverythingElseWatchesOption) {
  const std::pair<const char*, ModifierFlags> table[] = {
      {"option", 0x80000},   {"command", 0x100000}, {"control", 0x40000}, {"shift", 0x20000},
      {"function", 0x800000}, {"Command", 0x80000},  {"OPTION", 0x80000},  {"cmd", 0x80000},
      {"alt", 0x80000},       {"fn", 0x80000},       {"", 0x80000},        {" shift", 0x80000},
      {"shift ", 0x80000},    {"shif", 0x80000},     {"functions", 0x80000}};
  for (const auto& [name, flag] : table) EXPECT_EQ(flagForName(name), flag) << '"' << name << '"';
}

}  // namespace
