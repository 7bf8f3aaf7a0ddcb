// The integer text conversion, strict and default forms.

#include <gtest/gtest.h>

#include "base/int_conversion.h"

TEST(IntConversion, AcceptsDecimalAndHexadecimalForms) {
  const std::pair<const char*, std::int32_t> accepted[] = {
      {"0", 0},
      {"5594", 5594},
      {"  5594", 5594},
      {"+5594", 5594},
      {"-17", -17},
      {"007", 7},
      {"$15DA", 5594},
      {"x15da", 5594},
      {"X15DA", 5594},
      {"0x15DA", 5594},
      {"0X15da", 5594},
      {"2147483647", 2147483647},
      {"-2147483648", std::numeric_limits<std::int32_t>::min()},
      {"$FFFFFFFF", -1},
      {"0x80000000", std::numeric_limits<std::int32_t>::min()},
      {"$000000000001", 1},
  };
  for (const auto& [text, value] : accepted) {
    EXPECT_EQ(TryStrToInt(QString::fromUtf8(text)), value) << text;
    EXPECT_EQ(StrToInt(QString::fromUtf8(text)), value) << text;
  }
}

TEST(IntConversion, RejectsEverythingElse) {
  const char* rejected[] = {
      "",      " ",    "+",   "-",          "$",           "0x",         "x",           "5594 ", "\t5594", "55 94",
      "-0x10", "+$10", "12a", "2147483648", "-2147483649", "$100000000", "0x1FFFFFFFF", "1e3",   "١٢",     "5594\n"};
  for (const char* text : rejected) {
    EXPECT_FALSE(TryStrToInt(QString::fromUtf8(text)).has_value()) << text;
    EXPECT_THROW(StrToInt(QString::fromUtf8(text)), EConvertError) << text;
    EXPECT_EQ(StrToIntDef(QString::fromUtf8(text), 1024), 1024) << text;
  }
}

TEST(IntConversion, TurnsIntegersBackIntoPlainDecimal) {
  EXPECT_EQ(IntToStr(0), "0");
  EXPECT_EQ(IntToStr(2857), "2857");
  EXPECT_EQ(IntToStr(-1), "-1");
  EXPECT_EQ(IntToStr(std::numeric_limits<std::int32_t>::min()), "-2147483648");
}
