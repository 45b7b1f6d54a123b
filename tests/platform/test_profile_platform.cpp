// Profile files on the edge cases where the platform's own profile functions have a documented
// answer: defaults, line ends, integers, ANSI conversion, duplicate sections and comments.
#include <fstream>
#include <iterator>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <QTemporaryDir>

#include "platform/profile.h"

namespace {

namespace fs = std::filesystem;

std::string Bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Utf16(std::u16string_view s) {
  std::string out = "\xFF\xFE";
  for (char16_t c : s) out += {char(c & 0xFF), char(c >> 8)};
  return out;
}

using Entries = std::vector<std::pair<WString, WString>>;

struct PlatformProfile : ::testing::Test {
  QTemporaryDir dir;
  fs::path File(const std::string& bytes, const char* name = "p.ini") {
    const fs::path p = fs::path(dir.path().toStdString()) / name;
    std::ofstream(p, std::ios::binary) << bytes;
    return p;
  }
  // The section as the key listing of an open file and as the one-pass read hand it over.
  static std::pair<Entries, Entries> Listings(const fs::path& p, WStringView section) {
    Entries open, pass;
    CProfileFile(p).ForEachEntry(section, [&](const ProfileEntry& e) {
      open.emplace_back(e.key.ToString(), e.value.ToString());
      return true;
    });
    CProfileFile::ForEachEntryIn(p, section, [&](const ProfileEntry& e) {
      pass.emplace_back(e.key.ToString(), e.value.ToString());
      return true;
    });
    return {open, pass};
  }
  void TearDown() override { SetProfileAnsiCodePage("windows-1252"); }
};

TEST_F(PlatformProfile, DefaultLosesItsTrailingBlanks) {
  const fs::path p = File("[s]\r\nk=v  \r\n");
  EXPECT_EQ(GetPrivateProfileStringW(u"s", u"missing", u"abc  ", p), u"abc");
  EXPECT_EQ(GetPrivateProfileStringW(u"none", u"k", u"  abc \t ", p), u"  abc \t");
  EXPECT_EQ(GetPrivateProfileStringW(u"s", u"k", u"abc  ", p), u"v");
  EXPECT_EQ(CProfileFile(p).GetString(u"s", u"missing", u"x "), u"x");
}

TEST_F(PlatformProfile, LinesEndingInCrAloneAreLinesForEveryReader) {
  const std::string text = "[section1]\rname1=val1\rname2=val2\r[section2]\rname3=val3\r";
  for (const bool wide : {false, true}) {
    SCOPED_TRACE(wide);
    const fs::path p = File(wide ? Utf16(u"[section1]\rname1=val1\rname2=val2\r[section2]\rname3=val3\r") : text);
    EXPECT_EQ(GetPrivateProfileStringW(u"section1", u"name2", u"", p), u"val2");
    EXPECT_EQ(GetPrivateProfileStringW(u"section2", u"name3", u"", p), u"val3");
    const auto [open, pass] = Listings(p, u"section1");
    EXPECT_EQ(open, (Entries{{u"name1", u"val1"}, {u"name2", u"val2"}}));
    EXPECT_EQ(pass, open);
    // A section writer's commit on the unread file, then a save: the lines come back with CR LF.
    {
      CProfileFile f(p);
      CProfileFile::SectionWriter w = f.WriteSection(u"section1");
      w.WriteString(u"name2", u"new");
      ASSERT_TRUE(w.Commit());
      ASSERT_TRUE(f.Save());
    }
    EXPECT_EQ(GetPrivateProfileStringW(u"section1", u"name1", u"", p), u"val1");
    EXPECT_EQ(GetPrivateProfileStringW(u"section1", u"name2", u"", p), u"new");
    EXPECT_EQ(GetPrivateProfileStringW(u"section2", u"name3", u"", p), u"val3");
    if (!wide) {
      EXPECT_EQ(Bytes(p), "[section1]\r\nname1=val1\r\nname2=new\r\n[section2]\r\nname3=val3\r\n");
    }
  }
  // Mixed line ends, and a lone CR far into a large file (after the first piece a reader takes).
  std::string big = "[a]\r\n";
  for (int i = 0; i < 60000; ++i) big += "key" + std::to_string(i) + "=" + std::string(20, 'x') + "\r\n";
  big += "[b]\rlast=1\r\nafter=2\r";
  const fs::path p = File(big, "big.ini");
  EXPECT_EQ(GetPrivateProfileStringW(u"b", u"last", u"", p), u"1");
  EXPECT_EQ(GetPrivateProfileStringW(u"b", u"after", u"", p), u"2");
  const auto [open, pass] = Listings(p, u"b");
  EXPECT_EQ(open, (Entries{{u"last", u"1"}, {u"after", u"2"}}));
  EXPECT_EQ(pass, open);
}

TEST_F(PlatformProfile, IntegersAsThePlatformParsesThem) {
  const std::pair<const char*, std::int32_t> cases[] = {{"  42", 42}, {"\t-7", -7},  {"0x1f", 31}, {"0X1f", 0},
                                                        {"0o17", 15}, {"0b101", 5},  {"0b102", 2}, {"-0x10", -16},
                                                        {"0o9", 0},   {"\" 5\"", 5}, {"'12'", 12}, {"+8", 8}};
  std::string text = "[s]\r\n";
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    text += 'k';
    text += std::to_string(i);
    text += '=';
    text += cases[i].first;
    text += "\r\n";
  }
  const fs::path p = File(text);
  const CProfileFile f(p);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].first);
    const WString key = u"k" + FromUtf8(std::to_string(i));
    EXPECT_EQ(f.GetInt(u"s", key, 99), cases[i].second);
    EXPECT_EQ(GetPrivateProfileIntW(u"s", key, 99, p), cases[i].second);
  }
}

TEST_F(PlatformProfile, AnsiFilesTakeBestFitCharactersAndConvertUnitByUnit) {
  CProfileFile f;
  f.WriteString(u"s", u"fit", u"ĀŁ−ı");
  f.WriteString(u"s", u"none", u"中☃");
  f.WriteString(u"s", u"pair", u"a😀b");
  f.WriteString(u"s", u"kept", u"é€");
  EXPECT_EQ(f.Serialize(), "[s]\r\nfit=AL-i\r\nnone=??\r\npair=a??b\r\nkept=\xE9\x80\r\n");
}

TEST_F(PlatformProfile, DuplicateSectionsNeverShowTwoTruths) {
  const fs::path p = File("[s]\r\na=1\r\n[t]\r\nx=1\r\n[S]\r\na=2\r\nb=3\r\n");
  EXPECT_EQ(GetPrivateProfileStringW(u"s", u"a", u"", p), u"1");  // the first copy answers
  {
    CProfileFile f(p);
    f.DeleteSection(u"s");
    EXPECT_FALSE(f.HasSection(u"S"));
    EXPECT_EQ(f.GetString(u"s", u"a", u"gone"), u"gone");
    ASSERT_TRUE(f.Save());
    // The open object and what a fresh read of its file sees agree.
    const CProfileFile fresh(p);
    EXPECT_EQ(fresh.GetString(u"s", u"a", u"gone"), u"gone");
    EXPECT_EQ(fresh.GetString(u"S", u"b", u"gone"), u"gone");
    EXPECT_EQ(fresh.Serialize(), f.Serialize());
  }
  EXPECT_EQ(Bytes(p), "[t]\r\nx=1\r\n");
  // Through the one-shot call (a null key), as the platform deletes a section.
  const fs::path q = File("[s]\r\na=1\r\n[S]\r\na=2\r\n[s ]\r\nc=1\r\n", "q.ini");
  CProfileFile g(q);
  g.DeleteSection(u" s");
  g.WriteString(u"s", u"new", u"1");
  ASSERT_TRUE(g.Save());
  EXPECT_EQ(Bytes(q), "[s]\r\nnew=1\r\n");
}

TEST_F(PlatformProfile, KeyListingsLeaveOutCommentLines) {
  const fs::path p = File("[s]\r\n;k=1\r\n a=1\r\n ;b=2\r\nc=3\r\n");
  const auto [open, pass] = Listings(p, u"s");
  EXPECT_EQ(open, (Entries{{u"a", u"1"}, {u"c", u"3"}}));
  EXPECT_EQ(pass, open);
  // A plain read of such a key still finds it, as the platform's does.
  EXPECT_EQ(GetPrivateProfileStringW(u"s", u";k", u"", p), u"1");
}

}  // namespace
