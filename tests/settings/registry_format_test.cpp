#include "settings/registry_format.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "settings/registry_tree.h"

namespace {
using namespace std::string_literals;

TRegParseResult Parse(const std::string& text) { return ParseRegistryText(text); }

// The value as read, or an empty optional when the file did not hold it.
std::optional<TRegFileValue> ValueIn(const TRegParseResult& result, const std::string& key, const std::string& name) {
  const TRegFileValue* value = FindRegValue(result.Document, key, name);
  return value ? std::optional(*value) : std::nullopt;
}

std::string Data(const TRegParseResult& result, const std::string& name) {
  const auto value = ValueIn(result, "HKEY_CURRENT_USER\\K", name);
  return value ? value->Data : "<missing>";
}

std::string UnderK(const std::string& lines) { return "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n" + lines; }

void ExpectStableRoundTrip(const TRegFileDocument& document) {
  const TRegParseResult again = Parse(SerializeRegistryText(document));
  EXPECT_TRUE(again.FullyUnderstood);
  EXPECT_EQ(again.Document, document);
}

TEST(RegistryFormat, WritesEveryTypeAsRegistryExportsDo) {
  TRegFileDocument document;
  document.Keys.push_back({"HKEY_CURRENT_USER\\Software\\Omvra-Soft",
                           {
                               {"", 1, "Standard\0"s},
                               {"Pfad", 1, "C:\\Temp \"x\"\0"s},
                               {"Left", 4, "\x2a\0\0\0"s},
                               {"Blob", 3, "\x01\x02\xff"s},
                               {"Expand", 2, "%HOME%\0"s},
                               {"Multi", 7, "a\0b\0\0"s},
                               {"QWord", 11, "\x01\0\0\0\0\0\0\0"s},
                               {"Short", 4, "\x01\x02"s},
                               {"Empty", 1, ""s},
                           }});
  document.Keys.push_back({"HKEY_LOCAL_MACHINE\\Other", {{"A", 0, ""s}}});
  EXPECT_EQ(SerializeRegistryText(document),
            "REGEDIT4\n"
            "\n"
            "[HKEY_CURRENT_USER\\Software\\Omvra-Soft]\n"
            "@=\"Standard\"\n"
            "\"Pfad\"=\"C:\\\\Temp \\\"x\\\"\"\n"
            "\"Left\"=dword:0000002a\n"
            "\"Blob\"=hex:01,02,ff\n"
            "\"Expand\"=hex(2):25,48,4f,4d,45,25,00\n"
            "\"Multi\"=hex(7):61,00,62,00,00\n"
            "\"QWord\"=hex(b):01,00,00,00,00,00,00,00\n"
            "\"Short\"=hex(4):01,02\n"
            "\"Empty\"=hex(1):\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\Other]\n"
            "\"A\"=hex(0):\n");
  ExpectStableRoundTrip(document);
}

TEST(RegistryFormat, TextThatDoesNotFitOneQuotedLineGoesOutAsHex) {
  TRegFileDocument document;
  document.Keys.push_back(
      {"HKEY_CURRENT_USER\\K", {{"Lines", 1, "a\nb\0"s}, {"Zero", 1, "a\0b\0"s}, {"Open", 1, "ab"s}}});
  EXPECT_EQ(SerializeRegistryText(document),
            "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n"
            "\"Lines\"=hex(1):61,0a,62,00\n\"Zero\"=hex(1):61,00,62,00\n\"Open\"=hex(1):61,62\n");
  ExpectStableRoundTrip(document);
}

TEST(RegistryFormat, WrapsLongHexListsWithContinuationLines) {
  TRegFileDocument document;
  std::string bytes;
  for (int i = 0; i < 200; ++i) bytes.push_back(static_cast<char>(i));
  document.Keys.push_back({"HKEY_CURRENT_USER\\K", {{"Long", 3, bytes}}});
  const std::string text = SerializeRegistryText(document);
  const std::string body = text.substr(text.find("\"Long\""));
  std::size_t start = 0;
  int lines = 0;
  for (std::size_t end = body.find('\n'); end != std::string::npos; start = end + 1, end = body.find('\n', start)) {
    const std::string line = body.substr(start, end - start);
    EXPECT_LE(line.size(), 80u) << line;
    if (lines > 0) {
      EXPECT_EQ(line.substr(0, 2), "  ") << line;
    }
    if (end + 1 < body.size()) {
      EXPECT_EQ(line.substr(line.size() - 2), ",\\") << line;
    }
    ++lines;
  }
  EXPECT_GT(lines, 5);
  ExpectStableRoundTrip(document);
}

TEST(RegistryFormat, ReadsEscapesAndRejectsUnknownOnes) {
  const auto result =
      Parse(UnderK("\"Pfad\"=\"C:\\\\a\\\"b\\\"\"\n\"Bad\"=\"a\\nb\"\n\"Open\"=\"abc\n\"Tail\"=\"a\" x\n"));
  EXPECT_EQ(Data(result, "Pfad"), "C:\\a\"b\"\0"s);
  EXPECT_EQ(Data(result, "Bad"), "<missing>");
  EXPECT_EQ(Data(result, "Open"), "<missing>");
  EXPECT_EQ(Data(result, "Tail"), "<missing>");
  EXPECT_FALSE(result.FullyUnderstood);
}

TEST(RegistryFormat, DwordTakesOneToEightHexDigitsAndNothingElse) {
  const auto result =
      Parse(UnderK("\"One\"=dword:7\n\"Eight\"=DWORD:FFFFFFFE\n\"Nine\"=dword:000000001\n"
                   "\"None\"=dword:\n\"Junk\"=dword:12g4\n\"Sign\"=dword:-1\n\"Gap\"=dword: 12\n"
                   "\"After\"=dword:12 ;x\n"));
  EXPECT_EQ(Data(result, "One"), "\x07\0\0\0"s);
  EXPECT_EQ(Data(result, "Eight"), "\xfe\xff\xff\xff"s);
  for (const char* name : {"Nine", "None", "Junk", "Sign", "Gap", "After"})
    EXPECT_EQ(Data(result, name), "<missing>") << name;
  EXPECT_FALSE(result.FullyUnderstood);
}

TEST(RegistryFormat, HexListsNeedTwoDigitsPerByte) {
  const auto result =
      Parse(UnderK("\"Ok\"=hex: 01 , ab\n\"Empty\"=hex:\n\"Odd\"=hex:1\n\"Three\"=hex:012\n"
                   "\"Trailing\"=hex:01,\n\"Type\"=hex(123456789):00\n\"Unclosed\"=hex(2:00\n"));
  EXPECT_EQ(Data(result, "Ok"), "\x01\xab"s);
  EXPECT_EQ(ValueIn(result, "HKEY_CURRENT_USER\\K", "Empty")->Type, 3u);
  for (const char* name : {"Odd", "Three", "Trailing", "Type", "Unclosed"})
    EXPECT_EQ(Data(result, name), "<missing>") << name;
}

TEST(RegistryFormat, SkipsCommentsBlankLinesAndCarriageReturns) {
  const auto result = Parse(
      "REGEDIT4\r\n\r\n; a comment\r\n[HKEY_CURRENT_USER\\K]\r\n  ; indented comment\r\n"
      "\"A\"=\"1\"\r\n\r\n\"B\" = dword:2\r\n");
  EXPECT_TRUE(result.FullyUnderstood);
  EXPECT_EQ(Data(result, "A"), "1\0"s);
  EXPECT_EQ(Data(result, "B"), "\x02\0\0\0"s);
}

TEST(RegistryFormat, JoinsContinuationLines) {
  const auto result = Parse(UnderK("\"Bin\"=hex:01,02,\\\n  03,04,\\\n  05\n\"Next\"=\"x\"\n"));
  EXPECT_TRUE(result.FullyUnderstood);
  EXPECT_EQ(Data(result, "Bin"), "\x01\x02\x03\x04\x05"s);
  EXPECT_EQ(Data(result, "Next"), "x\0"s);
}

TEST(RegistryFormat, ATruncatedContinuationLosesOnlyItsOwnValue) {
  const auto result =
      Parse(UnderK("\"Bin\"=hex:01,02,\\\n\n\"Next\"=\"x\"\n[HKEY_CURRENT_USER\\L]\n\"C\"=hex:01,\\\n"));
  EXPECT_FALSE(result.FullyUnderstood);
  EXPECT_EQ(Data(result, "Bin"), "<missing>");
  EXPECT_EQ(Data(result, "Next"), "x\0"s);
  EXPECT_TRUE(FindRegKey(result.Document, "HKEY_CURRENT_USER\\L"));
}

TEST(RegistryFormat, NamesMatchWithoutCaseAndTheLastDataWin) {
  const std::string text =
      "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Omvra]\n\"Left\"=\"1\"\n\"LEFT\"=\"2\"\n"
      "[hkey_current_user\\SOFTWARE\\omvra]\n\"left\"=\"3\"\n\"Top\"=\"4\"\n";
  TRegFileDocument document = Parse(text).Document;
  EXPECT_EQ(FindRegValue(document, "HKEY_CURRENT_USER\\Software\\Omvra", "lEfT")->Data, "3\0"s);
  // A change goes where the read found the value; the lines it shadows stay as they were.
  EXPECT_FALSE(SetRegValue(document, "HKEY_CURRENT_USER\\SOFTWARE\\OMVRA", {"Top", 1, "4\0"s}));
  EXPECT_TRUE(SetRegValue(document, "HKEY_CURRENT_USER\\SOFTWARE\\OMVRA", {"LEFT", 1, "5\0"s}));
  EXPECT_TRUE(SetRegValue(document, "HKEY_CURRENT_USER\\Software\\Omvra", {"Width", 1, "6\0"s}));
  EXPECT_EQ(SerializeRegistryText(document),
            "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Omvra]\n\"Left\"=\"1\"\n\"LEFT\"=\"2\"\n"
            "[hkey_current_user\\SOFTWARE\\omvra]\n\"left\"=\"5\"\n\"Top\"=\"4\"\n\"Width\"=\"6\"\n");
}

TEST(RegistryFormat, ReadsVersion5InUtf8WithItsUtf16HexData) {
  // "%HOME%\0" and the multi-string "ä\0😀\0\0" in UTF-16LE, as version 5 exports write them.
  const std::string text =
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n"
      "\"Expand\"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,00,00\r\n"
      "\"Multi\"=hex(7):e4,00,00,00,3d,d8,00,de,00,00,00,00\r\n"
      "\"Bin\"=hex:e4,00\r\n\"Odd\"=hex(2):25,00,48\r\n\"Lone\"=hex(2):00,d8\r\n";
  const auto result = Parse(text);
  EXPECT_EQ(Data(result, "Expand"), "%HOME%\0"s);
  EXPECT_EQ(Data(result, "Multi"), "\xc3\xa4\0\xf0\x9f\x98\x80\0\0"s);
  EXPECT_EQ(Data(result, "Bin"), "\xe4\0"s);
  EXPECT_EQ(Data(result, "Odd"), "<missing>");
  EXPECT_EQ(Data(result, "Lone"), "<missing>");
  EXPECT_FALSE(result.FullyUnderstood);
  // New text data go back out in the file's own version, as UTF-16.
  TRegFileDocument document = result.Document;
  SetRegValue(document, "HKEY_CURRENT_USER\\K", {"Expand", 2, "\xc3\xa4\0"s});
  EXPECT_NE(SerializeRegistryText(document).find("\"Expand\"=hex(2):e4,00,00,00\r\n\"Multi\""), std::string::npos);
}

TEST(RegistryFormat, ReadsVersion5InUtf16WithByteOrderMark) {
  const std::u16string text =
      u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Größe]\r\n"
      u"\"Name\"=\"Größe ✓\"\r\n\"Expand\"=hex(2):41,00,00,00\r\n";
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  const auto result = Parse(bytes);
  EXPECT_TRUE(result.FullyUnderstood);
  const auto name = ValueIn(result,
                            "HKEY_CURRENT_USER\\Gr\xc3\xb6\xc3\x9f"
                            "e",
                            "Name");
  ASSERT_TRUE(name);
  EXPECT_EQ(name->Data,
            "Gr\xc3\xb6\xc3\x9f"
            "e \xe2\x9c\x93\0"s);
  EXPECT_EQ(ValueIn(result,
                    "HKEY_CURRENT_USER\\Gr\xc3\xb6\xc3\x9f"
                    "e",
                    "Expand")
                ->Data,
            "A\0"s);
  ExpectStableRoundTrip(result.Document);

  bytes.pop_back();  // a truncated UTF-16 file
  EXPECT_FALSE(Parse(bytes).FullyUnderstood);
}

TEST(RegistryFormat, TellsWhatItCouldNotUnderstand) {
  EXPECT_TRUE(Parse("").FullyUnderstood);
  EXPECT_TRUE(Parse(" \n\r\n").FullyUnderstood);
  EXPECT_TRUE(Parse("REGEDIT4").FullyUnderstood);
  for (const std::string& text :
       {"REGEDIT5\n[HKEY_CURRENT_USER\\K]\n"s,
        "\x7f"
        "ELF\x02\x01\0\0"s,
        "REGEDIT4\n\"Early\"=\"value before any key\"\n"s, "REGEDIT4\n[HKEY_CURRENT_USER\\K]\ngarbage\n"s}) {
    EXPECT_FALSE(Parse(text).FullyUnderstood) << text;
  }
  // Values after a damaged key line must not land in the key before it.
  const auto result = Parse("REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"A\"=\"1\"\n[HKEY_CURRENT_USER\\Trun\n\"B\"=\"2\"\n");
  EXPECT_FALSE(result.FullyUnderstood);
  EXPECT_EQ(Data(result, "A"), "1\0"s);
  EXPECT_EQ(Data(result, "B"), "<missing>");
}

TEST(RegistryTree, NewKeysJoinTheirParentsSubtree) {
  TRegFileDocument document = Parse(
                                  "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n[HKEY_CURRENT_USER\\A\\B]\n"
                                  "[HKEY_CURRENT_USER\\Z]\n[HKEY_CURRENT_USER\\Q\\R\\S]\n")
                                  .Document;
  EnsureRegKey(document, "HKEY_CURRENT_USER\\a\\C\\D");
  EnsureRegKey(document, "HKEY_CURRENT_USER\\Q");
  std::string order;
  for (const TRegFileKey& key : document.Keys) order += key.Path.substr(18) + " ";
  EXPECT_EQ(order, "A A\\B a\\C a\\C\\D Z Q Q\\R\\S ");
  EXPECT_TRUE(RegKeyExists(document, "HKEY_CURRENT_USER\\Q\\r"));
  EXPECT_FALSE(FindRegKey(document, "HKEY_CURRENT_USER\\Q\\r"));
}
}  // namespace
