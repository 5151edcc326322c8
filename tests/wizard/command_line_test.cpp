#include "wizard/command_line.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>

#include "platform/input_file.h"
#include "platform/string_table.h"
#include "support/temp_folder.h"
#include "wizard/response_file.h"

namespace {

using Args = std::vector<std::string>;

struct SwitchCase {
  const char* name;
  Args args;
  bool debug;
  std::optional<int> lang;
};

class CommandLineSwitches : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(CommandLineSwitches, DebugAndLanguage) {
  const SwitchCase& c = GetParam();
  CCommandLine line = CCommandLine::Parse(c.args);
  EXPECT_EQ(line.DebugMode(), c.debug);
  EXPECT_EQ(line.LanguageId(), c.lang);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLineSwitches,
    ::testing::Values(
        SwitchCase{"SlashDebug", {"/DEBUG"}, true, std::nullopt},
        SwitchCase{"DashDebug", {"-DEBUG"}, true, std::nullopt},
        // Accepted by the table in any case, but only DEBUG in upper case is asked for.
        SwitchCase{"LowerDebug", {"/debug"}, false, std::nullopt},
        SwitchCase{"MixedDebug", {"/Debug"}, false, std::nullopt},
        SwitchCase{"TableSwitchBefore", {"/nologo", "/DEBUG"}, true, std::nullopt},
        SwitchCase{"TableSwitchAnyCase", {"/NoLogo", "-REGSERVER", "/DEBUG"}, true, std::nullopt},
        SwitchCase{"UnknownSwitchStops", {"/xyz", "/DEBUG"}, false, std::nullopt},
        SwitchCase{"BareSlashStops", {"/", "/DEBUG"}, false, std::nullopt},
        SwitchCase{"LangThenDebug", {"/lang", "1031", "/DEBUG"}, true, 1031},
        SwitchCase{"DebugThenLangWithoutValue", {"/DEBUG", "/lang"}, true, std::nullopt},
        // A value-taking switch takes the next argument whatever it looks like.
        SwitchCase{"LangSwallowsSwitch", {"/lang", "/DEBUG"}, false, 0},
        SwitchCase{"PreviewTakesValue", {"/preview", "x", "-DEBUG"}, true, std::nullopt},
        SwitchCase{"PreviewWithoutValueStops", {"/preview"}, false, std::nullopt},
        SwitchCase{"PlainParametersIgnored", {"file.txt", "/DEBUG", "other"}, true, std::nullopt},
        SwitchCase{"LangUpperCaseNotAskedFor", {"/LANG", "1031"}, false, std::nullopt},
        SwitchCase{"LangDecimalPrefix", {"-lang", "1049abc"}, false, 1049},
        SwitchCase{"LangNotANumber", {"-lang", "russian"}, false, 0},
        SwitchCase{"Empty", {}, false, std::nullopt}),
    [](const auto& testCase) { return testCase.param.name; });

TEST(CommandLine, RecordsTheNameAsWritten) {
  CCommandLine line = CCommandLine::Parse({"/Debug", "-LANG", "1036", "/nologo"});
  ASSERT_EQ(line.Switches().size(), 2u);
  EXPECT_EQ(line.Switches()[0].name, "Debug");
  EXPECT_EQ(line.Switches()[1].name, "LANG");
  EXPECT_EQ(line.Switches()[1].value, "1036");
  EXPECT_TRUE(line.Has("LANG"));
  EXPECT_FALSE(line.Has("lang"));
}

TEST(CommandLine, SwitchTableLookupIgnoresCase) {
  EXPECT_EQ(CCommandLine::LookUpSwitch("unregserverperuser"), false);
  EXPECT_EQ(CCommandLine::LookUpSwitch("EMBEDDING"), false);
  EXPECT_EQ(CCommandLine::LookUpSwitch("Lang"), true);
  EXPECT_EQ(CCommandLine::LookUpSwitch("PREVIEW"), true);
  EXPECT_EQ(CCommandLine::LookUpSwitch("langs"), std::nullopt);
  EXPECT_EQ(CCommandLine::LookUpSwitch(""), std::nullopt);
}

// UTF-16 with the given byte order, from ASCII text.
std::string Utf16(const std::string& ascii, bool bigEndian, bool bom) {
  std::string bytes;
  if (bom) bytes += bigEndian ? std::string("\xFE\xFF") : std::string("\xFF\xFE");
  for (char c : ascii) {
    if (bigEndian) bytes += '\0';
    bytes += c;
    if (!bigEndian) bytes += '\0';
  }
  return bytes;
}

struct ResponseCase {
  const char* name;
  std::string bytes;
  Args expected;
};

class ResponseFiles : public ::testing::TestWithParam<ResponseCase> {};

TEST_P(ResponseFiles, ReadAsArguments) {
  CTempFolder folder;
  std::string path = folder.Write("args.rsp", GetParam().bytes);
  EXPECT_EQ(ExpandResponseFiles({"@" + path}), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ResponseFiles,
    ::testing::Values(
        ResponseCase{"DebugWithRemark", "/DEBUG ; the remark\n", {"/DEBUG"}},
        ResponseCase{"AllWhiteSpace", "a\tb\nc\vd\fe\rf g", {"a", "b", "c", "d", "e", "f", "g"}},
        ResponseCase{"CommentOnlyWhereArgumentBegins", "a;b ;c d\ne", {"a;b", "e"}},
        ResponseCase{"CommentLineThenArgument", "; all of this\n/lang 1031", {"/lang", "1031"}},
        ResponseCase{"QuotesKeepBlanks", "\"C:\\My Files\\x\" y", {"C:\\My Files\\x", "y"}},
        ResponseCase{"QuotesInsideArgument", "a\"b c\"d", {"ab cd"}},
        ResponseCase{"EmptyQuotes", "\"\" x", {"", "x"}},
        ResponseCase{"QuotedSemicolonIsNoComment", "\";x\" y", {";x", "y"}},
        ResponseCase{"UnterminatedQuoteRunsToEnd", "a \"b c\n; d", {"a", "b c\n; d"}},
        ResponseCase{"Empty", "", {}},
        ResponseCase{"Utf16LeWithMark", Utf16("/DEBUG -lang 1031", false, true), {"/DEBUG", "-lang", "1031"}},
        ResponseCase{"Utf16BeWithMark", Utf16("/DEBUG x", true, true), {"/DEBUG", "x"}},
        ResponseCase{"Utf16LeByContent", Utf16("/DEBUG ; note", false, false), {"/DEBUG"}},
        ResponseCase{"Utf16BeByContent", Utf16("/nologo /DEBUG", true, false), {"/nologo", "/DEBUG"}},
        ResponseCase{"Utf16Cyrillic", std::string("\xFF\xFE\x1F\x04\x40\x04", 6), {"\xD0\x9F\xD1\x80"}},
        ResponseCase{"Utf8MarkIgnored", "\xEF\xBB\xBF/DEBUG", {"/DEBUG"}},
        ResponseCase{"Utf8Text", "\xC3\xA4rger", {"\xC3\xA4rger"}}),
    [](const auto& testCase) { return testCase.param.name; });

TEST(ResponseFile, ArgumentsTakeItsPlaceInOrder) {
  CTempFolder folder;
  std::string path = folder.Write("args.rsp", "/nologo /DEBUG");
  EXPECT_EQ(ExpandResponseFiles({"first", "@" + path, "last"}), (Args{"first", "/nologo", "/DEBUG", "last"}));
  EXPECT_TRUE(CCommandLine::Parse({"@" + path}).DebugMode());
}

TEST(ResponseFile, UnopenableFileIsSkipped) {
  CTempFolder folder;
  EXPECT_EQ(ExpandResponseFiles({"@" + (folder / "missing.rsp"), "/DEBUG", "@"}), (Args{"/DEBUG"}));
  EXPECT_TRUE(CCommandLine::Parse({"@" + (folder / "missing.rsp"), "/DEBUG"}).DebugMode());
}

// "@pipe" would hold the start-up in open(), "@/dev/zero" would be read without end: both are
// refused at once, and named with the reason, as a folder is.
TEST(ResponseFile, WhatIsNoRegularFileIsRefusedAtOnceAndNamed) {
  CTempFolder folder;
  const std::string pipe = folder / "args.rsp";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const auto start = std::chrono::steady_clock::now();
  std::vector<CRefusedResponseFile> refused;
  EXPECT_EQ(ExpandResponseFiles({"@" + pipe, "@/dev/zero", "@" + folder.Path().string(), "/DEBUG"}, &refused),
            (Args{"/DEBUG"}));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  SetUiLanguage(LANG_ENGLISH);
  std::vector<std::string> texts;
  for (const CRefusedResponseFile& file : refused) texts.push_back(RefusalText(file));
  const std::string notAFile = "\n" + LoadResString(IDS_INPUT_NOT_A_FILE);
  EXPECT_EQ(texts, (Args{pipe + notAFile, "/dev/zero" + notAFile, folder.Path().string() + notAFile}));
}

TEST(ResponseFile, AFileAboveTheBoundIsRefusedAndNamed) {
  CTempFolder folder;
  std::string largest = folder.Write("largest.rsp", "/DEBUG" + std::string(CResponseFile::kMaxBytes - 6, ' '));
  std::string larger = folder.Write("larger.rsp", "/nologo" + std::string(CResponseFile::kMaxBytes - 6, ' '));
  std::vector<CRefusedResponseFile> refused;
  EXPECT_EQ(ExpandResponseFiles({"@" + largest, "@" + larger, "last"}, &refused), (Args{"/DEBUG", "last"}));
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0].Path, larger);
  EXPECT_EQ(refused[0].Failure, CInputFile::EFailure::TooLarge);
  CCommandLine line = CCommandLine::Parse({"@" + larger, "/DEBUG"});
  EXPECT_TRUE(line.DebugMode()) << "the arguments after a refused file still count";
  ASSERT_EQ(line.RefusedResponseFiles().size(), 1u);
  EXPECT_EQ(line.RefusedResponseFiles()[0].Path, larger);
}

TEST(ResponseFile, ArgumentsFromAFileAreNotExpandedAgain) {
  CTempFolder folder;
  std::string self = folder / "self.rsp";
  folder.Write("self.rsp", "@" + self + " /DEBUG");
  EXPECT_EQ(ExpandResponseFiles({"@" + self}), (Args{"@" + self, "/DEBUG"}));
}

TEST(ResponseFile, StopsParsingLikeTheCommandLine) {
  CTempFolder folder;
  std::string path = folder.Write("args.rsp", "/xyz\n/DEBUG");
  EXPECT_FALSE(CCommandLine::Parse({"@" + path}).DebugMode());
}

TEST(ResponseFile, Utf16Detection) {
  bool bigEndian = true;
  EXPECT_FALSE(CResponseFile::LooksLikeUtf16("/DEBUG", bigEndian));
  EXPECT_FALSE(CResponseFile::LooksLikeUtf16("x", bigEndian));
  EXPECT_TRUE(CResponseFile::LooksLikeUtf16(Utf16("ab", false, false), bigEndian));
  EXPECT_FALSE(bigEndian);
  EXPECT_TRUE(CResponseFile::LooksLikeUtf16(Utf16("ab", true, false), bigEndian));
  EXPECT_TRUE(bigEndian);
}

}  // namespace
