// Catalogues as parameterised tests: each row carries a name, which its
// test shows under, so that a failure names the case. A row type also
// declares PrintTo(row, out) printing that name, which gtest then shows
// in place of the row's bytes.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace rwtest {

// A row's `name` as a test name: words run together, each capitalised,
// everything but letters and digits dropped ("file cut short" shows as
// FileCutShort).
struct RowName {
  template <class Row>
  std::string operator()(const testing::TestParamInfo<Row>& info) const {
    std::string name;
    bool wordStart = true;
    for (const char c : std::string(info.param.name)) {
      const unsigned char u = static_cast<unsigned char>(c);
      if (!std::isalnum(u)) {
        wordStart = true;
        continue;
      }
      name += wordStart ? static_cast<char>(std::toupper(u)) : c;
      wordStart = false;
    }
    return name;
  }
};

}  // namespace rwtest
