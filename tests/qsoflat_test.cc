#include "qsoflat.h"

#include <gtest/gtest.h>

namespace {

TEST(DeriveOutputName, CutsAtTheFirstDotOfTheLastComponent) {
  const struct {
    const char* input;
    const char* output;
  } cases[] = {
      {"log.adi", "log.csv"},
      {"my.log.adi", "my.csv"},
      {"../x.adi", "../x.csv"},
      {"sub.d/log.adi", "sub.d/log.csv"},
      {"sub.d\\log.adi", "sub.d\\log.csv"},
      {"C:\\Ham.Radio\\LoTW\\report.ADI", "C:\\Ham.Radio\\LoTW\\report.csv"},
      {"lotwreport", "lotwreport.csv"},
      {"sub.d/lotwreport", "sub.d/lotwreport.csv"},
      {"x.csv", "x.csv"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(derive_output_name(c.input), c.output) << c.input;
}

}  // namespace
