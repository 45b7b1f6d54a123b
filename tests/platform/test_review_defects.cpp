// Regression tests of faults found in review: profile keys that would read back as section
// headers, zero-size struct reads without a buffer, and settings-store names the calls refuse.
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>
#include <QTemporaryDir>

#include "platform/profile.h"
#include "platform/registry.h"

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(ProfileKeys, KeysStartingWithABracketAreRefusedOnEveryWritePath) {
  QTemporaryDir dir;
  const fs::path file = fs::path(dir.path().toStdString()) / "k.ini";
  CProfileFile f(file);
  ASSERT_TRUE(f.WriteString(u"s", u"a", u"1"));
  EXPECT_FALSE(f.WriteString(u"s", u"[x", u"2"));
  EXPECT_FALSE(f.WriteString(u"s", u"  [x]", u"2"));  // blanks are trimmed off the key first
  const std::uint8_t bytes[70] = {1, 2, 3};
  EXPECT_FALSE(f.WriteStruct(u"s", u"[p", std::span(bytes, 8)));
  {
    CProfileFile::SectionWriter w = f.WriteSection(u"s");
    EXPECT_FALSE(w.WriteString(u"[y", u"3"));
    EXPECT_FALSE(w.WriteStruct(u"[z", std::span(bytes, 8)));   // text value
    EXPECT_FALSE(w.WriteStruct(u"[z", std::span(bytes, 70)));  // value kept as bytes until saved
    EXPECT_FALSE(w.WriteStructs(u" [n", 0, 8, std::span(bytes, 16)));
    EXPECT_TRUE(w.WriteInt(u"b", 2));
    EXPECT_TRUE(w.WriteStructs(u"p", 0, 8, std::span(bytes, 16)));
    ASSERT_TRUE(w.Commit());
  }
  ASSERT_TRUE(f.Save());
  EXPECT_EQ(ReadAll(file).find('[', 1), std::string::npos) << ReadAll(file);
  const CProfileFile again(file);
  EXPECT_EQ(again.GetString(u"s", u"b"), u"2");
  EXPECT_TRUE(again.HasSection(u"s"));
  EXPECT_FALSE(again.HasSection(u"x"));
}

TEST(ProfileKeys, ZeroSizeStructReadsIntoNoBuffer) {
  QTemporaryDir dir;
  const fs::path file = fs::path(dir.path().toStdString()) / "z.ini";
  ASSERT_TRUE(WritePrivateProfileStructW(u"s", u"empty", nullptr, 0, file));
  EXPECT_EQ(GetPrivateProfileStringW(u"s", u"empty", u"", file), u"00");
  // Succeeds without touching memory (the sanitizer build reports any copy through null).
  EXPECT_TRUE(GetPrivateProfileStructW(u"s", u"empty", nullptr, 0, file));
  EXPECT_FALSE(GetPrivateProfileStructW(u"s", u"empty", nullptr, 1, file));
}

struct StoreNames : ::testing::Test {
  QTemporaryDir dir;
  fs::path file;
  void SetUp() override { file = fs::path(dir.path().toStdString()) / "registry.dat"; }
  void TearDown() override { SetRegistryFile(fs::path(dir.path().toStdString()) / "unused.dat"); }
  // A store file whose key "K" holds subkeys of the given names.
  void WriteStore(const std::vector<std::string>& names) {
    std::string keys;
    for (const std::string& n : names) {
      if (!keys.empty()) keys += ',';
      keys += R"({"name":")" + n + R"(","values":[],"keys":[]})";
    }
    std::ofstream(file) << R"({"format":"q7v-registry","version":1,"root":{"name":"","values":[],"keys":[)"
                        << R"({"name":"K","values":[],"keys":[)" << keys << "]}]}}";
    SetRegistryFile(file);
  }
};

TEST_F(StoreNames, AnOverlongNameNeitherHidesItsSiblingsNorIsListed) {
  // Sorted case-insensitively, the overlong name comes first: it used to end the listing.
  WriteStore({"B", std::string(300, 'A'), "C", R"(D\\E)"});
  CRegistryKey key;
  ASSERT_EQ(key.Open(HKEY_CURRENT_USER, u"K"), ERROR_SUCCESS);
  EXPECT_EQ(key.SubKeyNames(), (std::vector<WString>{u"B", u"C"}));
  // Whatever is listed can be opened.
  for (const WString& name : key.SubKeyNames()) {
    CRegistryKey sub;
    EXPECT_EQ(sub.Open(key.Handle(), name), ERROR_SUCCESS);
  }
}

TEST_F(StoreNames, EnumerationSkipsANameTooLongForTheBufferAndGoesOn) {
  WriteStore({"A", "B"});
  CRegistryKey key;
  ASSERT_EQ(key.Create(HKEY_CURRENT_USER, u"K\\" + WString(255, u'M')), ERROR_SUCCESS);
  key.Close();
  ASSERT_EQ(key.Open(HKEY_CURRENT_USER, u"K"), ERROR_SUCCESS);
  const std::vector<WString> names = key.SubKeyNames();
  EXPECT_EQ(names, (std::vector<WString>{u"A", u"B", WString(255, u'M')}));
}

}  // namespace
