#include <array>
#include <fstream>
#include <iterator>

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
  EXPECT_EQ(ReadBytes(p), "[\xCF\xE0\xBB\xFA]\r\n\xC3\xFB\xB3\xC6=\xD6\xD0\xCE\xC4?\r\n");
  EXPECT_EQ(GetPrivateProfileStringW(u"相机", u"名称", u"", p), u"中文?");

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
  if (geteuid() == 0) GTEST_SKIP() << "cannot drop root rights";
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

}  // namespace
