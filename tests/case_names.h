// Names table-driven cases after their description, so a failure reads as
// the behaviour it broke.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>

struct CaseName {
  template <typename Case>
  std::string operator()(const testing::TestParamInfo<Case>& param) const {
    std::string name;
    for (const char* c = param.param.name; *c != '\0'; ++c) {
      name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    }
    return name;
  }
};
