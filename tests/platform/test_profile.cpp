#include <algorithm>
#include <array>
#include <cctype>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include <unistd.h>

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "platform/profile.h"

namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

std::string Utf16Bytes(std::u16string_view s) {
  std::string out = "\xFF\xFE";
  for (char16_t c : s) out += {char(c & 0xFF), char(c >> 8)};
  return out;
}

struct ProfileTest : ::testing::Test {
  QTemporaryDir dir;
  fs::path Path(const char* name) const { return fs::path(dir.path().toStdString()) / name; }
  void TearDown() override { SetProfileAnsiCodePage("windows-1252"); }
};

TEST_F(ProfileTest, NewFilesInBothEncodings) {
  const fs::path ansi = Path("a.ini");
  CProfileFile f(ansi);
  EXPECT_TRUE(f.WriteString(u"Layers0", u"LayerTotal", u"2"));
  EXPECT_TRUE(f.WriteString(u"Other", u"Unit", u"€ é 中"));
  EXPECT_TRUE(f.WriteString(u"Layers0", u"CrossTotal", u"0"));
  ASSERT_TRUE(f.Save());
  EXPECT_EQ(ReadBytes(ansi),
            "[Layers0]\r\nLayerTotal=2\r\nCrossTotal=0\r\n[Other]\r\nUnit=\x80 \xE9 ?\r\n");
  EXPECT_EQ(CProfileFile(ansi).GetString(u"other", u"unit"), u"€ é ?");

  const fs::path wide = Path("w.ini");
  CProfileFile w(wide);
  w.SetEncoding(CProfileFile::Encoding::Utf16le);
  w.WriteString(u"Color Matrix", u"User1", u"中文");
  ASSERT_TRUE(w.Save());
  EXPECT_EQ(ReadBytes(wide), Utf16Bytes(u"[Color Matrix]\r\nUser1=中文\r\n"));
  // an existing UTF-16 file stays UTF-16
  CProfileFile again(wide);
  EXPECT_EQ(again.GetEncoding(), CProfileFile::Encoding::Utf16le);
  again.WriteString(u"COLOR MATRIX", u"user2", u"x");
  EXPECT_EQ(again.Serialize(), Utf16Bytes(u"[Color Matrix]\r\nUser1=中文\r\nuser2=x\r\n"));
}

TEST_F(ProfileTest, EditsKeepForeignTextInPlace) {
  const fs::path p = Path("layers.kvmi");
  WriteBytes(p,
             "; written by hand\r\n"
             "[Cam0]\r\n"
             "  LayerTotal = 5 \r\n"
             "not a key\r\n"
             "Quoted=\" spaced \"\r\n"
             "\xC4rger=1\n"  // LF only, Latin letter beyond ASCII
             "\r\n"
             "[Foreign]\r\n"
             "x=1");  // no final line end
  CProfileFile f(p);
  EXPECT_TRUE(f.HasSection(u"cam0"));
  EXPECT_EQ(f.GetString(u"CAM0", u"layertotal"), u"5");
  EXPECT_EQ(f.GetString(u"Cam0", u"quoted"), u" spaced ");
  EXPECT_EQ(f.GetString(u"Cam0", u"äRGER"), u"1");
  EXPECT_EQ(f.GetString(u"Cam0", u"not a key", u"def"), u"def");
  EXPECT_EQ(f.GetString(u"Missing", u"x", u"def"), u"def");

  f.WriteString(u"cam0", u"layertotal", u"7");   // replaced where it stands, file's spelling kept
  f.WriteString(u"Cam0", u"CrossTotal", u"0");   // after the last key, before the blank line
  f.WriteString(u"Foreign", u"y", u"2");         // after a last line without line end
  f.WriteString(u"New", u"k", u"v");             // new section at the end
  EXPECT_EQ(f.Serialize(),
            "; written by hand\r\n"
            "[Cam0]\r\n"
            "LayerTotal=7\r\n"
            "not a key\r\n"
            "Quoted=\" spaced \"\r\n"
            "\xC4rger=1\n"
            "CrossTotal=0\r\n"
            "\r\n"
            "[Foreign]\r\n"
            "x=1\r\n"
            "y=2\r\n"
            "[New]\r\n"
            "k=v\r\n");

  f.DeleteKey(u"CAM0", u"quoted");
  f.DeleteSection(u"foreign");
  EXPECT_FALSE(f.HasSection(u"Foreign"));
  EXPECT_EQ(f.Serialize(),
            "; written by hand\r\n[Cam0]\r\nLayerTotal=7\r\nnot a key\r\n\xC4rger=1\nCrossTotal=0\r\n\r\n"
            "[New]\r\nk=v\r\n");
  // lines that would not read back as written are refused
  EXPECT_FALSE(f.WriteString(u"Cam0", u"a=b", u"1"));
  EXPECT_FALSE(f.WriteString(u"Cam0", u"k", u"1\r\nInjected=1"));
  EXPECT_FALSE(f.WriteString(u"Cam0", u" ", u"1"));
}

// A key starting with ';' would read back as a comment: every way of writing refuses it, as keys
// starting with '[' are, and the file stays as it was.
TEST_F(ProfileTest, KeysStartingWithASemicolonAreRefusedEverywhere) {
  CProfileFile f(Path("keys.ini"));
  ASSERT_TRUE(f.WriteString(u"S", u"k", u"1"));
  const std::string before = f.Serialize();
  const std::vector<std::uint8_t> small(4, 7), large(80, 7), run(12, 7);
  for (const char16_t* key : {u";k", u"  ;k"}) {
    SCOPED_TRACE(ToUtf8(key));
    EXPECT_FALSE(f.WriteString(u"S", key, u"1"));
    EXPECT_FALSE(f.WriteStruct(u"S", key, small));
    auto w = f.WriteSection(u"S");
    EXPECT_FALSE(w.WriteString(key, u"1"));
    EXPECT_FALSE(w.WriteInt(key, 1));
    EXPECT_FALSE(w.WriteStruct(key, small));
    EXPECT_FALSE(w.WriteStruct(key, large));  // long structs take another path
    EXPECT_FALSE(w.WriteStructs(key, 0, 4, run));
    EXPECT_TRUE(w.Commit());
    EXPECT_EQ(f.Serialize(), before);
  }
  // A ';' or '[' further in is an ordinary character of a key.
  EXPECT_TRUE(f.WriteString(u"S", u"a;b[c", u"2"));
  ASSERT_TRUE(f.Save());
  CProfileFile again(Path("keys.ini"));
  EXPECT_EQ(again.GetString(u"S", u"a;b[c"), u"2");
}

TEST_F(ProfileTest, IntegersAndManyKeys) {
  CProfileFile f(Path("n.ini"));
  const std::pair<const char16_t*, std::int32_t> cases[] = {
      {u"31", 31}, {u"-5", -5}, {u"0x1F", 31}, {u"12abc", 12}, {u"abc", 0}, {u"", 77}, {u"4294967295", -1}};
  for (auto [text, expected] : cases) {
    f.WriteString(u"S", u"k", text);
    EXPECT_EQ(f.GetInt(u"S", u"k", 77), expected) << ToUtf8(text);
  }
  EXPECT_EQ(f.GetInt(u"S", u"missing", 77), 77);

  // enough keys to grow the index several times; lookups, rewrites and a reload stay right
  for (int i = 0; i < 20000; ++i) f.WriteString(u"Big", FormatW(u"Layer%dPoint%d", i / 100, i % 100), FormatW(u"%d", i));
  f.WriteString(u"big", u"layer3point7", u"changed");
  f.WriteString(u"Big", u"Layer3Point07", u"other key");  // same number, another key
  f.DeleteKey(u"Big", u"Layer0Point0");
  ASSERT_TRUE(f.Save());
  CProfileFile r(Path("n.ini"));
  EXPECT_EQ(r.GetString(u"Big", u"Layer199Point99"), u"19999");
  EXPECT_EQ(r.GetString(u"Big", u"LAYER3POINT7"), u"changed");
  EXPECT_EQ(r.GetString(u"Big", u"Layer3Point07"), u"other key");
  EXPECT_EQ(r.GetString(u"Big", u"Layer0Point0", u"gone"), u"gone");
  EXPECT_EQ(r.Serialize(), f.Serialize());
}

TEST_F(ProfileTest, StructEncodingAndDamagedValues) {
  const std::array<std::uint8_t, 3> data{0x01, 0xAB, 0xFF};
  EXPECT_EQ(EncodeProfileStruct(data), u"01ABFFAB");  // checksum 0x1AB mod 256
  EXPECT_EQ(EncodeProfileStruct({}), u"00");

  const fs::path p = Path("m.ini");
  const float matrix[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  ASSERT_TRUE(WritePrivateProfileStructW(u"Color Matrix", u"User1", matrix, sizeof matrix, p));
  const WString text = GetPrivateProfileStringW(u"Color Matrix", u"User1", u"", p);
  EXPECT_EQ(text.size(), 74u);
  EXPECT_EQ(text.substr(0, 8), u"0000803F");
  EXPECT_EQ(text.substr(72), u"3D");  // 3 x (0x80 + 0x3F) = 0x23D
  float back[9] = {};
  EXPECT_TRUE(GetPrivateProfileStructW(u"color matrix", u"user1", back, sizeof back, p));
  EXPECT_EQ(std::memcmp(back, matrix, sizeof matrix), 0);

  CProfileFile f(p);
  f.WriteString(u"S", u"lower", u"01abffab");
  std::array<std::uint8_t, 3> out{};
  EXPECT_TRUE(f.GetStruct(u"S", u"lower", out));
  EXPECT_EQ(out, data);
  const char16_t* damaged[] = {u"01ABFF", u"01ABFFAB00", u"01ABFFA", u"01ABGFAB", u"01ABFF+B", u"01ABFFAC", u""};
  for (const char16_t* value : damaged) {
    f.WriteString(u"S", u"bad", value);
    std::array<std::uint8_t, 3> keep{7, 7, 7};
    EXPECT_FALSE(f.GetStruct(u"S", u"bad", keep)) << ToUtf8(value);
    EXPECT_EQ(keep, (std::array<std::uint8_t, 3>{7, 7, 7}));
  }
  EXPECT_FALSE(f.GetStruct(u"S", u"missing", out));
}

TEST_F(ProfileTest, AnsiCodePages) {
  const fs::path p = Path("gbk.ini");
  SetProfileAnsiCodePage("GBK");
  ASSERT_TRUE(WritePrivateProfileStringW(u"相机", u"名称", u"中文😀", p));
  // a character beyond the basic plane: one '?' per UTF-16 unit, as the platform converts
  EXPECT_EQ(ReadBytes(p), "[\xCF\xE0\xBB\xFA]\r\n\xC3\xFB\xB3\xC6=\xD6\xD0\xCE\xC4??\r\n");
  EXPECT_EQ(GetPrivateProfileStringW(u"相机", u"名称", u"", p), u"中文??");

  SetProfileAnsiCodePage("no-such-code-page");  // Latin-1
  CProfileFile f;
  f.WriteString(u"S", u"k", u"é€");
  EXPECT_EQ(f.Serialize(), "[S]\r\nk=\xE9?\r\n");
}

TEST_F(ProfileTest, FailedSaveKeepsTheOldFile) {
  EXPECT_FALSE(WritePrivateProfileStringW(u"S", u"k", u"v", Path("no/such/folder/x.ini")));
  EXPECT_FALSE(CProfileFile().Save());  // no path

  const fs::path folder = Path("locked");
  fs::create_directory(folder);
  const fs::path p = folder / "x.ini";
  WriteBytes(p, "[S]\r\nk=old\r\n");
  fs::permissions(dir.path().toStdString(), fs::perms(0755));
  fs::permissions(folder, fs::perms(0555));
  // root ignores folder permissions: act as an ordinary user for the save
  const bool dropped = geteuid() == 0 && seteuid(65534) == 0;
  ASSERT_NE(geteuid(), 0u) << "root could not act as an ordinary user for the save";
  CProfileFile f(p);
  EXPECT_EQ(f.GetString(u"S", u"k"), u"old");
  f.WriteString(u"S", u"k", u"new");
  const bool saved = f.Save();
  if (dropped) {
    EXPECT_EQ(seteuid(0), 0);
  }
  fs::permissions(folder, fs::perms(0755));
  EXPECT_FALSE(saved);
  EXPECT_EQ(ReadBytes(p), "[S]\r\nk=old\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

// The section writer against the same entries written key by key, on a file with what makes
// merging hard: case and blanks in keys, a key twice, foreign lines, a last line without line
// end; in every encoding, with the file read first or read as the section is merged.
TEST_F(ProfileTest, SectionWriterMatchesKeyByKeyWrites) {
  const std::string body =
      "; kept\r\n"
      "[Cam1]\r\n"
      "Layer0=old\r\n"
      "  layer1 = old \r\n"
      "not a key\r\n"
      "Layer2=first\n"
      "Layer2=second\r\n"
      "Layer3=old\r\n"
      "\r\n"
      "[Other]\r\n"
      "x=1";
  const std::vector<std::uint8_t> record(100, 0x5A), point{1, 2, 3, 4, 5, 6, 7, 8};
  struct Entry {
    const char16_t* key;
    const char16_t* value;  // nullptr: record, u"": point
  };
  const Entry entries[] = {{u"Layer0", u"0"},  {u"LAYER1", nullptr}, {u"Layer2", u"2"},   {u"New", u"1"},
                           {u"a=b", u"refused"}, {u"Point", u""},      {u"NEW", u"2"},      {u"Layer3", nullptr},
                           {u"Extra", u"\u00E9"}};
  const std::pair<const char*, std::string> files[] = {
      {"ascii", body}, {"latin1", body + "\r\n\xC4rger=1"}, {"utf16", Utf16Bytes(FromUtf8(body))}, {"missing", ""}};
  for (const auto& [name, bytes] : files) {
    for (bool wide : {false, true}) {  // a non-ASCII value makes the text UTF-16 in memory
      SCOPED_TRACE(std::string(name) + (wide ? " wide" : ""));
      const fs::path p = Path("w.ini");
      fs::remove(p);
      if (std::string(name) != "missing") WriteBytes(p, bytes);
      CProfileFile keyByKey(p), streamed(p), readFirst(p);
      EXPECT_EQ(readFirst.HasSection(u"cam1"), std::string(name) != "missing");
      CProfileFile::SectionWriter w1 = streamed.WriteSection(u" Cam1 "), w2 = readFirst.WriteSection(u"Cam1");
      for (const Entry& e : entries) {
        if (!wide && e.value && WStringView(e.value) == u"\u00E9") continue;
        bool expected;
        if (!e.value) {
          expected = keyByKey.WriteStruct(u"Cam1", e.key, record);
          EXPECT_EQ(w1.WriteStruct(e.key, record), expected);
          EXPECT_EQ(w2.WriteStruct(e.key, record), expected);
        } else if (!*e.value) {
          expected = keyByKey.WriteStruct(u"Cam1", e.key, point);
          EXPECT_EQ(w1.WriteStruct(e.key, point), expected);
          EXPECT_EQ(w2.WriteStruct(e.key, point), expected);
        } else {
          expected = keyByKey.WriteString(u"Cam1", e.key, e.value);
          EXPECT_EQ(w1.WriteString(e.key, e.value), expected);
          EXPECT_EQ(w2.WriteString(e.key, e.value), expected);
        }
      }
      ASSERT_TRUE(w1.Commit());
      ASSERT_TRUE(w2.Commit());
      const std::string want = keyByKey.Serialize();
      EXPECT_EQ(streamed.Serialize(), want);
      EXPECT_EQ(readFirst.Serialize(), want);
      // the merged section reads and takes single writes like any other
      EXPECT_EQ(streamed.GetString(u"Cam1", u"new"), u"2");
      EXPECT_EQ(streamed.GetString(u"Cam1", u"Layer3"), EncodeProfileStruct(record));
      EXPECT_TRUE(streamed.WriteString(u"Cam1", u"Layer2", u"again"));
      EXPECT_TRUE(keyByKey.WriteString(u"Cam1", u"Layer2", u"again"));
      ASSERT_TRUE(streamed.Save());
      EXPECT_EQ(ReadBytes(p), keyByKey.Serialize());
    }
  }
  // a writer for a name that cannot be a section changes nothing
  CProfileFile f;
  CProfileFile::SectionWriter bad = f.WriteSection(u"a]b");
  EXPECT_FALSE(bad.WriteString(u"k", u"v"));
  EXPECT_FALSE(bad.Commit());
  EXPECT_EQ(f.Serialize(), "");
  // nor is a file that cannot be read replaced through one
  fs::create_directory(Path("dir.ini"));
  CProfileFile dir(Path("dir.ini"));
  CProfileFile::SectionWriter w = dir.WriteSection(u"S");
  w.WriteString(u"k", u"v");
  EXPECT_TRUE(w.Commit());
  EXPECT_FALSE(dir.Save());
  EXPECT_TRUE(fs::is_directory(Path("dir.ini")));
}

TEST_F(ProfileTest, EntriesInFileOrderAndDeletedDuplicates) {
  const std::string text = "[S]\r\nb=\"quoted\" \r\nno key\r\n A = 1 \r\nB=second\r\nc=0x1F\r\np=0102030406\r\n[T]\r\nt=1\r\n";
  for (bool wide : {false, true}) {
    SCOPED_TRACE(wide ? "UTF-16" : "ANSI");
    const fs::path p = Path("e.ini");
    WriteBytes(p, wide ? Utf16Bytes(FromUtf8(text)) : text);
    CProfileFile f(p);
    std::vector<std::pair<WString, WString>> seen;
    f.ForEachEntry(u"s", [&](const ProfileEntry& e) {
      EXPECT_EQ(e.key.IsWide(), wide);
      seen.emplace_back(e.key.ToString(), e.value.ToString());
      std::array<std::uint8_t, 2> two{};
      if (e.key.ToString() == u"c") {
        EXPECT_EQ(ParseProfileInt(e.value, 0), 31);
      } else if (e.key.ToString() == u"p") {
        EXPECT_TRUE(DecodeProfileStruct(e.value, two) && two[1] == 2);
      }
      return e.key.ToString() != u"c";  // stops after c
    });
    EXPECT_EQ(seen, (std::vector<std::pair<WString, WString>>{{u"b", u"quoted"}, {u"A", u"1"}, {u"B", u"second"}, {u"c", u"0x1F"}}));
    f.ForEachEntry(u"missing", [](const ProfileEntry&) { ADD_FAILURE(); return true; });

    // the first of two lines of a key answers; once it is deleted, the next one does
    EXPECT_EQ(f.GetString(u"S", u"b"), u"quoted");
    f.DeleteKey(u"S", u"B");
    EXPECT_EQ(f.GetString(u"S", u"b"), u"second");
    f.WriteString(u"S", u"b", u"third");
    const std::string after = "[S]\r\nno key\r\n A = 1 \r\nB=third\r\nc=0x1F\r\np=0102030406\r\n[T]\r\nt=1\r\n";
    EXPECT_EQ(f.Serialize(), wide ? Utf16Bytes(FromUtf8(after)) : after);
  }
}

// Random files and batches: whatever the order, repetition and spelling of the keys, a section
// writer leaves the file as the same writes made key by key.
TEST_F(ProfileTest, SectionWriterOnRandomFiles) {
  std::mt19937 rng(7);
  auto pick = [&](int n) { return int(rng() % unsigned(n)); };
  const char* const keys[] = {"Layer0", "layer0", "Layer1", " Layer2 ", "LAYER3", "Layer0Point", "k", "K", "New"};
  const char* const lines[] = {"[Cam1]", "[cam1]", "  [Cam2] x", "[Cam1", "no key", "", "=v", "Layer0=\"q\" "};
  for (int round = 0; round < 400; ++round) {
    std::string text = pick(2) ? "[Cam1]\r\n" : "";
    std::vector<WString> order;  // the keys of the file, in order
    for (int i = pick(25); i > 0; --i) {
      const std::string key = keys[pick(9)] + (pick(3) ? "" : std::to_string(pick(3)));
      text += pick(3) ? key + "=" + std::to_string(pick(99)) : lines[pick(8)];
      text += pick(5) ? "\r\n" : "\n";
      order.push_back(FromUtf8(key));
    }
    if (pick(3) == 0 && !text.empty()) text.pop_back();
    const fs::path p = Path("r.ini");
    WriteBytes(p, pick(6) ? text : Utf16Bytes(FromUtf8(text)));
    CProfileFile one(p), many(p);
    if (pick(2)) many.HasSection(u"x");  // read first, or read as merged
    CProfileFile::SectionWriter w = many.WriteSection(u"Cam1");
    const bool inOrder = pick(2);  // as when a section is saved again
    for (int i = inOrder ? int(order.size()) : pick(12); i > 0; --i) {
      const WString key = inOrder && pick(8) ? order[order.size() - std::size_t(i)] : FromUtf8(keys[pick(9)]);
      if (pick(12) == 0) {  // a run of numbered keys
        const std::vector<std::uint8_t> bytes(8 * std::size_t(pick(4)), std::uint8_t(i));
        const std::int32_t from = pick(4) - 1;
        bool all = true;
        for (std::size_t k = 0; k < bytes.size() / 8; ++k)
          all = one.WriteStruct(u"Cam1", key + FromUtf8(std::to_string(from + int(k))), std::span(bytes).subspan(8 * k, 8)) && all;
        ASSERT_EQ(w.WriteStructs(key, from, 8, bytes), all);
      } else if (pick(3) == 0) {
        const std::vector<std::uint8_t> bytes(pick(2) ? 8 : 80, std::uint8_t(i));
        ASSERT_EQ(w.WriteStruct(key, bytes), one.WriteStruct(u"Cam1", key, bytes));
      } else {
        const WString value = pick(10) ? FromUtf8(std::to_string(i)) : u"\u00FC";
        ASSERT_EQ(w.WriteString(key, value), one.WriteString(u"Cam1", key, value));
      }
    }
    ASSERT_TRUE(w.Commit());
    ASSERT_EQ(many.Serialize(), one.Serialize()) << "round " << round << ": " << text;
  }
}

// Long values go through the wide decoding paths: a damaged digit anywhere fails the read and
// leaves the buffer untouched, whatever the case of the digits and the width of the text.
TEST_F(ProfileTest, LongStructValuesAndDamageAnywhere) {
  std::vector<std::uint8_t> data(200);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = std::uint8_t(i * 37 + 11);
  const WString text = EncodeProfileStruct(data);
  WString lower = text;
  for (char16_t& c : lower) c = char16_t(std::tolower(c));
  std::string narrow(text.begin(), text.end());
  CProfileFile f;  // 8-bit text is encoded when written out
  CProfileFile::SectionWriter w = f.WriteSection(u"S");
  w.WriteStruct(u"k", data);
  w.Commit();
  EXPECT_EQ(f.Serialize(), "[S]\r\nk=" + narrow + "\r\n");
  std::vector<std::uint8_t> out(200);
  EXPECT_TRUE(DecodeProfileStruct(ProfileText(std::string_view(narrow)), out));
  EXPECT_EQ(out, data);
  EXPECT_TRUE(DecodeProfileStruct(ProfileText(WStringView(lower)), out));
  EXPECT_EQ(out, data);
  for (std::size_t at = 0; at < text.size(); ++at) {
    for (const char bad : {'G', '/', ':', '@', '`', 'g', '\x80'}) {
      std::string damaged = narrow;
      damaged[at] = bad;
      WString wide = text;
      wide[at] = bad == '\x80' ? u'\u0130' : char16_t(bad);
      std::vector<std::uint8_t> keep(200, 9);
      EXPECT_FALSE(DecodeProfileStruct(ProfileText(std::string_view(damaged)), keep)) << at << bad;
      EXPECT_FALSE(DecodeProfileStruct(ProfileText(WStringView(wide)), keep)) << at << bad;
      EXPECT_EQ(keep, std::vector<std::uint8_t>(200, 9));
    }
  }
}

// Reading one section in a single pass gives what reading the whole file gives, whatever the
// encoding, with a line longer than a read and a section name met twice.
TEST_F(ProfileTest, OnePassSectionReadMatchesWholeRead) {
  std::string body = "k=before\r\n[ cam1 ]\r\n a = \"1\" \r\n";
  for (int i = 0; i < 3000; ++i) body += "Key" + std::to_string(i) + "=" + std::to_string(i) + (i % 5 ? "\r\n" : "\n");
  body += "Long=" + std::string((1 << 20) + 7, 'x') + "\r\nno key\r\n[Cam1]\r\nsecond=1\r\n[Tail]\r\nz=1";
  const std::pair<const char*, std::string> files[] = {
      {"ascii", body}, {"latin1", body + "\r\n\xC4rger=\xE9"}, {"utf16", Utf16Bytes(FromUtf8(body + "\r\nU=\u00E9"))}};
  auto entries = [](auto&& read) {
    std::vector<std::pair<WString, WString>> out;
    read([&](const ProfileEntry& e) {
      out.emplace_back(e.key.ToString(), e.value.ToString());
      return true;
    });
    return out;
  };
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    const fs::path p = Path("one.ini");
    WriteBytes(p, bytes);
    for (const char16_t* section : {u"CAM1", u"tail", u"none"}) {
      const auto whole = entries([&](auto fn) { CProfileFile(p).ForEachEntry(section, fn); });
      const auto onePass = entries([&](auto fn) { CProfileFile::ForEachEntryIn(p, section, fn); });
      EXPECT_EQ(onePass, whole);
    }
    int seen = 0;
    CProfileFile::ForEachEntryIn(p, u"cam1", [&](const ProfileEntry&) { return ++seen < 2; });
    EXPECT_EQ(seen, 2);
  }
  CProfileFile::ForEachEntryIn(Path("missing.ini"), u"cam1", [](const ProfileEntry&) {
    ADD_FAILURE();
    return true;
  });
}

// Names the code page cannot hold are written as the platform writes them ('?' here); a lookup
// under the same name must find them, through every way in. In a UTF-16 file names stay exact.
TEST_F(ProfileTest, NamesOutsideTheCodePageReadBackUnderTheirName) {
  const std::u16string names[] = {u"\u017Fection", u"\uFEFFsection", std::u16string(u"S\xD800x")};
  const std::u16string keys[] = {u"\u017Fk", u"\uFEFFk", std::u16string(u"k\xDC00")};
  for (int n = 0; n < 3; ++n) {
    SCOPED_TRACE(n);
    const fs::path p = Path("names.ini");
    fs::remove(p);
    const std::u16string& sec = names[n];
    const std::u16string& key = keys[n];
    {
      CProfileFile f(p);
      ASSERT_TRUE(f.WriteString(sec, key, u"v"));
      const std::array<std::uint8_t, 2> data{1, 2};
      ASSERT_TRUE(f.WriteStruct(sec, u"blob", data));
      CProfileFile::SectionWriter w = f.WriteSection(sec);
      ASSERT_TRUE(w.WriteString(key + u"2", u"w"));
      ASSERT_TRUE(w.Commit());
      EXPECT_EQ(f.GetString(sec, key), u"v");  // before the save too
      ASSERT_TRUE(f.Save());
    }
    // one section, as the platform writes it
    const std::string bytes = ReadBytes(p);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '['), 1) << bytes;
    EXPECT_NE(bytes.find('?'), std::string::npos);

    CProfileFile f(p);
    EXPECT_TRUE(f.HasSection(sec));
    EXPECT_EQ(f.GetString(sec, key), u"v");
    EXPECT_EQ(f.GetString(sec, key + u"2"), u"w");
    std::array<std::uint8_t, 2> out{};
    EXPECT_TRUE(f.GetStruct(sec, u"blob", out));
    EXPECT_EQ(GetPrivateProfileStringW(sec, key, u"", p), u"v");
    int entries = 0, streamed = 0;
    f.ForEachEntry(sec, [&](const ProfileEntry&) { return ++entries; });
    CProfileFile::ForEachEntryIn(p, sec, [&](const ProfileEntry&) { return ++streamed; });
    EXPECT_EQ(entries, 3);
    EXPECT_EQ(streamed, 3);
    // rewritten in place, not added twice
    ASSERT_TRUE(WritePrivateProfileStringW(sec, key, u"v2", p));
    EXPECT_EQ(GetPrivateProfileStringW(sec, key, u"", p), u"v2");
    EXPECT_EQ(ReadBytes(p).size(), bytes.size() + 1);
    CProfileFile g(p);
    g.DeleteKey(sec, key);
    EXPECT_EQ(g.GetString(sec, key, u"gone"), u"gone");
    g.DeleteSection(sec);
    EXPECT_FALSE(g.HasSection(sec));
  }

  // windows-1252 holds "é" and "€": those names stay as they are
  const fs::path p = Path("held.ini");
  ASSERT_TRUE(WritePrivateProfileStringW(u"caf\u00E9", u"\u20AC", u"1", p));
  EXPECT_EQ(ReadBytes(p), "[caf\xE9]\r\n\x80=1\r\n");
  EXPECT_EQ(GetPrivateProfileIntW(u"CAF\u00C9", u"\u20AC", 0, p), 1);

  // UTF-16: names are exact, and the '?' they would become in an ANSI file is another name
  const fs::path w = Path("wide.ini");
  {
    CProfileFile f(w);
    f.SetEncoding(CProfileFile::Encoding::Utf16le);
    for (int n = 0; n < 3; ++n) ASSERT_TRUE(f.WriteString(names[n], keys[n], u"v"));
    ASSERT_TRUE(f.Save());
  }
  const std::string wide = ReadBytes(w);
  EXPECT_EQ(wide.substr(0, 2 + 2 * 11), Utf16Bytes(u"[\u017Fection]\r\n").substr(0, 2 + 2 * 11));
  CProfileFile f(w);
  for (int n = 0; n < 3; ++n) {
    EXPECT_EQ(f.GetString(names[n], keys[n]), u"v");
    int streamed = 0;
    CProfileFile::ForEachEntryIn(w, names[n], [&](const ProfileEntry&) { return ++streamed; });
    EXPECT_EQ(streamed, 1);
  }
  EXPECT_FALSE(f.HasSection(u"?ection"));
  EXPECT_EQ(f.GetString(u"\u017Fection", u"?k", u"none"), u"none");
}

}  // namespace
