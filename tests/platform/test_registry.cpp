#include <cstdlib>
#include <fstream>
#include <iterator>

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "platform/registry.h"
#include "platform/strings.h"
#include "tests/fs_faults.h"

namespace {

namespace fs = std::filesystem;

struct RegistryTest : ::testing::Test {
  QTemporaryDir dir;
  fs::path file;
  void SetUp() override {
    file = fs::path(dir.path().toStdString()) / "registry.dat";
    SetRegistryFile(file);
  }
  void TearDown() override { SetRegistryFile(fs::path(dir.path().toStdString()) / "unused.dat"); }
};

DWORD SizeOf(const char16_t* s) { return DWORD((std::char_traits<char16_t>::length(s) + 1) * 2); }

TEST_F(RegistryTest, TypedValuesAndFailedReads) {
  HKEY key = nullptr;
  DWORD disp = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Q7V-MS\\Settings", 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, &disp), ERROR_SUCCESS);
  EXPECT_EQ(disp, REG_CREATED_NEW_KEY);
  const char16_t* lang = u"CHS";
  const DWORD count = 42;
  const BYTE block[4] = {1, 2, 3, 4};
  EXPECT_EQ(RegSetValueExW(key, u"Language", 0, REG_SZ, reinterpret_cast<const BYTE*>(lang), SizeOf(lang)), 0);
  EXPECT_EQ(RegSetValueExW(key, u"Capture Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), 4), 0);
  EXPECT_EQ(RegSetValueExW(key, u"Display", 0, REG_BINARY, block, 4), 0);
  EXPECT_EQ(RegSetValueExW(key, u"Bad", 0, REG_DWORD, block, 3), ERROR_INVALID_PARAMETER);

  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"language", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 8u);
  char16_t small[2] = {u'x', u'x'};
  size = sizeof small;
  EXPECT_EQ(RegQueryValueExW(key, u"Language", nullptr, &type, reinterpret_cast<BYTE*>(small), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(small[0], u'x');  // untouched
  char16_t text[128];
  size = 255;
  EXPECT_EQ(RegQueryValueExW(key, u"Language", nullptr, &type, reinterpret_cast<BYTE*>(text), &size), ERROR_SUCCESS);
  EXPECT_EQ(WString(text), u"CHS");
  EXPECT_EQ(RegQueryValueExW(key, u"Missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);

  DWORD number = 0;
  size = 4;
  EXPECT_EQ(RegGetValueW(key, nullptr, u"Language", RRF_RT_REG_DWORD, nullptr, &number, &size), ERROR_UNSUPPORTED_TYPE);
  EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, u"Software\\Q7V-MS\\Settings", u"Capture Count", RRF_RT_REG_DWORD,
                         nullptr, &number, &size), ERROR_SUCCESS);
  EXPECT_EQ(number, 42u);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  CRegistryKey read;
  ASSERT_EQ(read.Open(HKEY_CURRENT_USER, u"SOFTWARE\\q7v-ms\\settings"), ERROR_SUCCESS);
  EXPECT_EQ(read.QueryString(u"Language"), WString(u"CHS"));
  EXPECT_EQ(read.QueryDword(u"capture count"), 42u);
  EXPECT_EQ(read.QueryBinary(u"Display"), (std::vector<BYTE>{1, 2, 3, 4}));
  EXPECT_FALSE(read.QueryDword(u"Language"));
  EXPECT_FALSE(read.QueryString(u"Display"));
  EXPECT_EQ(read.SetDword(u"X", 1), ERROR_ACCESS_DENIED);  // opened for reading
  EXPECT_EQ(RegCloseKey(read.Handle()), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(read.Handle()), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryTest, NamesOrderAndDeletion) {
  CRegistryKey cam;
  ASSERT_EQ(cam.Create(HKEY_CURRENT_USER, u"Software\\Q7V-MS\\Measuring Scale\\CamA"), ERROR_SUCCESS);
  for (const char16_t* name : {u"b", u"Scale", u"_x", u"A", u"scale", u"B2"}) {
    CRegistryKey sub;
    EXPECT_EQ(sub.Create(cam.Handle(), name), ERROR_SUCCESS);
  }
  EXPECT_EQ(cam.SubKeyNames(), (std::vector<WString>{u"A", u"b", u"B2", u"Scale", u"_x"}));
  char16_t name[3];
  DWORD len = 3;
  EXPECT_EQ(RegEnumKeyExW(cam.Handle(), 3, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  len = 3;
  EXPECT_EQ(RegEnumKeyExW(cam.Handle(), 5, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

  CRegistryKey scale;
  ASSERT_EQ(scale.Open(cam.Handle(), u"SCALE", KEY_ALL_ACCESS), ERROR_SUCCESS);
  EXPECT_EQ(scale.SetString(u"Unit", u"mm"), ERROR_SUCCESS);
  EXPECT_EQ(scale.SetString(u"UNIT", u"um"), ERROR_SUCCESS);  // the same value, first spelling kept
  char16_t vname[16];
  DWORD vlen = 16;
  EXPECT_EQ(RegEnumValueW(scale.Handle(), 0, vname, &vlen, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(WString(vname), u"Unit");
  EXPECT_EQ(scale.QueryString(u"unit"), WString(u"um"));
  EXPECT_EQ(RegDeleteValueW(scale.Handle(), u"uNiT"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(scale.Handle(), u"Unit"), ERROR_FILE_NOT_FOUND);

  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Software\\Q7V-MS\\Measuring Scale\\CamA"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyW(cam.Handle(), u"scale"), ERROR_SUCCESS);
  EXPECT_EQ(scale.SetString(u"Unit", u"mm"), ERROR_KEY_DELETED);  // handle to the deleted key
  EXPECT_EQ(RegDeleteKeyW(cam.Handle(), u"Scale"), ERROR_FILE_NOT_FOUND);
  for (const char16_t* n : {u"A", u"b", u"B2", u"_x"}) EXPECT_EQ(RegDeleteKeyW(cam.Handle(), n), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Software\\Q7V-MS\\Measuring Scale\\CamA"), ERROR_SUCCESS);
  HKEY h = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Q7V-MS\\Measuring Scale\\CamA", 0, KEY_READ, &h),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"\\\\bad", 0, KEY_READ, &h), ERROR_BAD_PATHNAME);
}

TEST_F(RegistryTest, PersistsWhenAChangingHandleCloses) {
  {
    CRegistryKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, u"Software\\Q7V-MS\\Settings"), ERROR_SUCCESS);
    EXPECT_EQ(key.SetString(u"Image Name", u"Capture"), ERROR_SUCCESS);
    EXPECT_EQ(key.SetDword(u"Grid Color", 0x00FF00), ERROR_SUCCESS);
    EXPECT_FALSE(fs::exists(file));  // written once, at close
  }
  ASSERT_TRUE(fs::exists(file));
  // a change through the root handle, which is never closed, is written at once
  CRegistryKey().Create(HKEY_CURRENT_USER, u"Software\\Gone");
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Software\\Gone"), ERROR_SUCCESS);

  SetRegistryFile(file);  // reload from disk
  CRegistryKey key;
  ASSERT_EQ(key.Open(HKEY_CURRENT_USER, u"software\\q7v-ms\\settings"), ERROR_SUCCESS);
  EXPECT_EQ(key.QueryString(u"Image Name"), WString(u"Capture"));
  EXPECT_EQ(key.QueryDword(u"Grid Color"), 0x00FF00u);
  CRegistryKey software;
  ASSERT_EQ(software.Open(HKEY_CURRENT_USER, u"Software", KEY_READ), ERROR_SUCCESS);
  EXPECT_EQ(software.SubKeyNames(), std::vector<WString>{u"Q7V-MS"});
}

TEST_F(RegistryTest, EnvironmentMovesTheStore) {
  const fs::path moved = fs::path(dir.path().toStdString()) / "sub" / "moved.dat";
  ASSERT_EQ(setenv("Q7V_REGISTRY_FILE", moved.c_str(), 1), 0);
  SetRegistryFile({});
  EXPECT_EQ(RegistryFile(), moved);
  {
    CRegistryKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, u"Software\\Q7V-MS\\Settings"), ERROR_SUCCESS);
    EXPECT_EQ(key.SetString(u"Language", u"EN"), ERROR_SUCCESS);
  }
  EXPECT_TRUE(fs::exists(moved));
  EXPECT_FALSE(fs::exists(file));
  unsetenv("Q7V_REGISTRY_FILE");
  SetRegistryFile({});
  EXPECT_EQ(RegistryFile().filename(), "registry.dat");
  EXPECT_EQ(RegistryFile().parent_path().filename(), "q7v-measure");
}

}  // namespace

// A file far larger than any settings store is neither read into memory nor ever written over.
TEST_F(RegistryTest, OversizedStoreIsRefusedAndKept) {
  {
    std::FILE* f = std::fopen(file.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::string block(1 << 20, ' ');
    for (int i = 0; i <= int(kMaxRegistryFileBytes >> 20); ++i) std::fwrite(block.data(), 1, block.size(), f);
    std::fclose(f);
  }
  const auto size = fs::file_size(file);
  EXPECT_TRUE(RegistryFileRefused());
  CRegistryKey key;
  ASSERT_EQ(key.Create(HKEY_CURRENT_USER, u"Software\\Q7V-MS\\Settings"), ERROR_SUCCESS);
  EXPECT_FALSE(key.QueryDword(u"Capture Count").has_value());
  EXPECT_EQ(key.SetDword(u"Capture Count", 3), ERROR_SUCCESS);
  EXPECT_NE(key.Close(), ERROR_SUCCESS);  // the write is refused, and says so
  EXPECT_EQ(fs::file_size(file), size);
}

namespace {

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A store cut short (half written by something else, a disk that lost its tail).
std::string CutStore(const fs::path& file) {
  {
    CRegistryKey key;
    EXPECT_EQ(key.Create(HKEY_CURRENT_USER, u"Software\\Q7V-MS\\Settings"), ERROR_SUCCESS);
    for (int i = 0; i < 40; ++i) key.SetString(FormatW(u"Report Header%d", i), u"what someone typed");
  }
  std::string whole = ReadAll(file);
  EXPECT_GT(whole.size(), 2000u);
  whole.resize(whole.size() / 2);
  std::ofstream(file, std::ios::binary | std::ios::trunc) << whole;
  return whole;
}

}  // namespace

// A store that does not read is moved aside, said, and never written over: the next save starts
// a fresh store under the real name.
TEST_F(RegistryTest, ADamagedStoreIsMovedAsideAndSaid) {
  const std::string cut = CutStore(file);
  SetRegistryFile(file);  // read afresh, as at the next start
  const RegistryLoadReport r = RegistryLoadResult();
  ASSERT_EQ(r.state, RegistryLoadState::MovedAside);
  const std::string aside = r.movedTo.filename().string();
  EXPECT_TRUE(aside.starts_with("registry.dat.damaged-")) << aside;
  EXPECT_EQ(aside.size(), std::string("registry.dat.damaged-20240131-154500").size()) << aside;
  EXPECT_EQ(r.movedTo.parent_path(), file.parent_path());
  EXPECT_EQ(ReadAll(r.movedTo), cut);
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(ToUtf8(RegistryLoadNotice()), "The settings file \"" + file.string() + "\" is damaged. It was moved to \"" +
                                              r.movedTo.string() + "\" and the program runs with default settings.");
  {
    CRegistryKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, u"Software\\Q7V-MS\\Settings"), ERROR_SUCCESS);
    EXPECT_FALSE(key.QueryString(u"Report Header0").has_value());  // defaults
    EXPECT_EQ(key.SetDword(u"Capture Count", 3), ERROR_SUCCESS);
    EXPECT_EQ(key.Close(), ERROR_SUCCESS);
  }
  EXPECT_EQ(ReadAll(r.movedTo), cut);
  SetRegistryFile(file);
  EXPECT_EQ(RegistryLoadResult().state, RegistryLoadState::Ok);
  EXPECT_EQ(RegistryLoadNotice(), u"");

  // Damaged again within the same second: another name, the first one kept.
  std::ofstream(file, std::ios::trunc) << "{\"format\":";
  SetRegistryFile(file);
  const RegistryLoadReport again = RegistryLoadResult();
  ASSERT_EQ(again.state, RegistryLoadState::MovedAside);
  EXPECT_NE(again.movedTo, r.movedTo);
  EXPECT_EQ(ReadAll(again.movedTo), "{\"format\":");
  EXPECT_EQ(ReadAll(r.movedTo), cut);
}

// A damaged store in a folder that cannot be changed, and a store that cannot be read at all:
// left as they are, said, and every save refused with a reason.
TEST_F(RegistryTest, AStoreThatCanNeitherBeReadNorMovedIsLeftAlone) {
  fs::create_directory(file);  // there, but no file a store can be read from
  SetRegistryFile(file);
  EXPECT_EQ(RegistryLoadResult().state, RegistryLoadState::Unreadable);
  EXPECT_EQ(ToUtf8(RegistryLoadNotice()), "The settings file \"" + file.string() +
                                              "\" cannot be read (it is a folder, not a file). It is left as it is; the "
                                              "program runs with default settings and does not save them.");
  {
    CRegistryKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, u"Software\\Q7V-MS\\Settings"), ERROR_SUCCESS);
    key.SetDword(u"Capture Count", 3);
    EXPECT_EQ(key.Close(), ERROR_WRITE_FAULT);
  }
  EXPECT_TRUE(fs::is_directory(file));
  EXPECT_EQ(ToUtf8(RegistryNotSavedText()), "The settings could not be saved to \"" + file.string() +
                                                "\" (the settings file found at start is kept as it was).");
  fs::remove(file);

  const fs::path folder = file.parent_path() / "locked";
  fs::create_directory(folder);
  const fs::path store = folder / "registry.dat";
  SetRegistryFile(store);
  const std::string cut = CutStore(store);
  fs_faults::ReadOnlyFolder readOnly(folder);
  ASSERT_TRUE(readOnly.mounted) << "mounting needs root (CAP_SYS_ADMIN): run the tests as root, as scripts/test.sh does";
  SetRegistryFile(store);
  EXPECT_EQ(RegistryLoadResult().state, RegistryLoadState::DamagedKept);
  EXPECT_EQ(ToUtf8(RegistryLoadNotice()), "The settings file \"" + store.string() +
                                              "\" is damaged and could not be moved aside (the folder is read-only). It is "
                                              "left as it is; the program runs with default settings and does not save them.");
  CRegistryKey key;
  ASSERT_EQ(key.Create(HKEY_CURRENT_USER, u"Software\\Q7V-MS\\Settings"), ERROR_SUCCESS);
  key.SetDword(u"Capture Count", 3);
  EXPECT_EQ(key.Close(), ERROR_WRITE_FAULT);
  EXPECT_EQ(ReadAll(store), cut);
}
