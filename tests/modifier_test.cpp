#include <gtest/gtest.h>

#include "hotkey/modifier.h"

namespace {

TEST(Modifier, NamesResolveExactlyAndEverythingElseWatchesOption) {
  const std::pair<const char*, ModifierFlags> table[] = {
      {"option", 0x80000},   {"command", 0x100000}, {"control", 0x40000}, {"shift", 0x20000},
      {"function", 0x800000}, {"Command", 0x80000},  {"OPTION", 0x80000},  {"cmd", 0x80000},
      {"alt", 0x80000},       {"fn", 0x80000},       {"", 0x80000},        {" shift", 0x80000},
      {"shift ", 0x80000},    {"shif", 0x80000},     {"functions", 0x80000}};
  for (const auto& [name, flag] : table) EXPECT_EQ(flagForName(name), flag) << '"' << name << '"';
}

TEST(Modifier, MaskHoldsTheSixModifiersAndEveryWatchableFlag) {
  setUpModifiers("option");
  EXPECT_EQ(allModifierFlags, 10420224u);
  EXPECT_NE(allModifierFlags & capsLockFlag, 0u);
  EXPECT_EQ(allModifierFlags & (1ULL << 21), 0u) << "numeric pad";
  EXPECT_EQ(allModifierFlags & (1ULL << 22), 0u) << "help";
  for (const char* name : {"option", "command", "control", "shift", "function"}) {
    setUpModifiers(name);
    EXPECT_EQ(watchedFlag & allModifierFlags, watchedFlag) << name;
    EXPECT_EQ(__builtin_popcountll(watchedFlag), 1) << name;
  }
}

}  // namespace
