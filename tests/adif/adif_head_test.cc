#include "adif/adif_head.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_files.h"

namespace qsoflat {

namespace {

using namespace std::string_literals;

// A file that must never be replaced, told by its first and last bytes.
TEST(AdifHead, FindsAMarkerAnywhereInEitherEnd) {
  const std::string comma_rows(70000, ',');
  const struct {
    std::string head, tail;
    adif_kind kind;
  } cases[] = {
      {"x,<app_lotw_eof>,y", "", lotw_report},
      {"ARRL report\r\n<PROGRAMID:4>LoTW <APP_LoTW_NUMREC:1>1\r<EOH> \r", "",
       lotw_report},
      {"<CALL:5>Q1AAA <BAND:3>20M <EOR>", "", adif_file},
      {"<ADIF_VER:5>3.1.4\n<EOH><CALL:5>Q1AAA <EOR>", "", adif_file},
      {"Header\n<eoh> // comment\n", "", adif_file},
      {"Header\n<eoh>\xC2\xA0\n\f", "", adif_file},
      {utf16_of_ascii("Report\r\n<APP_LoTW_NUMREC:1>1\r\n<eoh>\r\n"), "",
       lotw_report},
      {"\xFE\xFF" + utf16_of_ascii("<eor>", false), "", adif_file},
      // The middle of a file is not read: the marker in its tail tells.
      {"header " + comma_rows, "<CALL:1>A\r<eor>\r<APP_LoTW_EOF>\r",
       lotw_report},
      {utf16_of_ascii("header"), utf16_of_ascii("\r\n<eor>\r\n").substr(2),
       adif_file},
      {"CALL,BAND\nQ1AAA,20M\n<eo", "h>", not_adif},
      {"CALL,BAND\n<CALL:1>A\nAPP_LoTW_OWNCALL\n<eo r>", "", not_adif},
      // Only ASCII characters count: U+263C's low byte is no "<".
      {utf16_of_ascii("<e\xE9or>"), "", not_adif},
      {"\xFF\xFE<\x26"s + utf16_of_ascii("eor>").substr(2), "", not_adif},
  };
  for (const auto& c : cases)
    EXPECT_EQ(adif_kind_of(c.head, c.tail), c.kind)
        << c.head.substr(0, 80) << c.tail;
}

}  // namespace

}  // namespace qsoflat
