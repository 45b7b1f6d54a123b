// The scale key in the settings store: value names, types and encodings, per camera, and the
// view's loading of the selected scale.
#include "editors/ScaleStore.h"
#include "tests/editors/editors_support.h"

namespace {

using namespace scalestore;

class ScaleStoreTest : public EditorTest {
 protected:
  // Raw type and byte size of a value.
  std::pair<DWORD, DWORD> Raw(const WString& key, const char16_t* value) {
    CRegistryKey k;
    EXPECT_EQ(k.Open(HKEY_CURRENT_USER, key), ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExW(k.Handle(), value, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    return {type, size};
  }
};

TEST_F(ScaleStoreTest, DisplayBlockIsEightLittleEndianWords) {
  const ScaleDisplayBlock b{1, 75, 90, 12600, std::int32_t(RGB(0, 255, 0)), std::int32_t(RGB(0, 0, 255)), 200, 3};
  const auto bytes = EncodeDisplay(b);
  const std::uint8_t expected[32] = {1, 0, 0, 0, 75, 0, 0, 0, 90, 0, 0, 0, 0x38, 0x31, 0, 0,
                                     0, 0xFF, 0, 0, 0, 0, 0xFF, 0, 200, 0, 0, 0, 3, 0, 0, 0};
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), expected));
  ScaleDisplayBlock back;
  ASSERT_TRUE(DecodeDisplay(bytes, &back));
  EXPECT_EQ(back, b);
  // The flag is one byte: whatever the other three hold, it reads as that byte.
  auto flag = bytes;
  flag[1] = 0xCC;
  ASSERT_TRUE(DecodeDisplay(flag, &back));
  EXPECT_EQ(back.enable, 1);
  EXPECT_FALSE(DecodeDisplay(std::span(bytes.data(), 31), &back));
}

TEST_F(ScaleStoreTest, ValuesHaveTheirNamesAndTypes) {
  const ScaleDisplayBlock b;
  ASSERT_EQ(WriteScale(u"CamA", u"Scale", u"120.000", u"0.0083", u"mm", b), ERROR_SUCCESS);
  ASSERT_EQ(WriteSelectedScale(u"Scale"), ERROR_SUCCESS);
  const WString key = u"Software\\Q7V-MS\\Measuring Scale\\CamA\\Scale";
  EXPECT_EQ(Raw(key, u"Pixel"), (std::pair<DWORD, DWORD>{REG_SZ, 16}));  // with its terminator
  EXPECT_EQ(Raw(key, u"Size"), (std::pair<DWORD, DWORD>{REG_SZ, 14}));
  EXPECT_EQ(Raw(key, u"Unit"), (std::pair<DWORD, DWORD>{REG_SZ, 6}));
  EXPECT_EQ(Raw(key, u"Display"), (std::pair<DWORD, DWORD>{REG_BINARY, 32}));
  EXPECT_EQ(Raw(u"Software\\Q7V-MS\\Measuring Scale", u"Selected Scale"), (std::pair<DWORD, DWORD>{REG_SZ, 12}));
  // The empty name addresses the camera key itself.
  ASSERT_EQ(WriteDisplay(u"CamA", u"", b), ERROR_SUCCESS);
  EXPECT_EQ(Raw(u"Software\\Q7V-MS\\Measuring Scale\\CamA", u"Display"), (std::pair<DWORD, DWORD>{REG_BINARY, 32}));

  // Names the store cannot hold as one key are refused before anything is written.
  EXPECT_NE(WriteScale(u"CamA", u"a\\b", u"1", u"1", u"mm", b), ERROR_SUCCESS);
  EXPECT_NE(WriteScale(u"CamA", WString(256, u'x'), u"1", u"1", u"mm", b), ERROR_SUCCESS);
  EXPECT_EQ(ReadScaleList(u"CamA").size(), 1u);
}

TEST_F(ScaleStoreTest, ScalesArePerCameraAndNamesIgnoreCase) {
  ScaleDisplayBlock bar;
  bar.enable = 1;
  bar.length = 5000;
  ASSERT_EQ(WriteScale(u"CamA", u"Scale", u"100.000", u"0.5000", u"um", bar), ERROR_SUCCESS);
  ASSERT_EQ(WriteScale(u"CamB", u"Scale", u"100.000", u"2.0000", u"mm", ScaleDisplayBlock{}), ERROR_SUCCESS);
  ASSERT_EQ(WriteScale(u"CamA", u"scale", u"100.000", u"0.2500", u"um", bar), ERROR_SUCCESS);  // the same key
  ASSERT_EQ(WriteScale(u"CamA", u"Other", u"50.000", u"1.0000", u"cm", bar), ERROR_SUCCESS);
  const auto rows = ReadScaleList(u"cama");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].name, u"Other");
  EXPECT_EQ(rows[1].name, u"Scale");
  EXPECT_EQ(rows[1].size, u"0.2500");

  ASSERT_EQ(WriteSelectedScale(u"SCALE"), ERROR_SUCCESS);
  CMeasureManager& mm = host->mm;
  Draw(MK_LINE, {{0, 0}, {100, 0}});
  ASSERT_EQ(ApplySelectedScale(mm, u"CamA"), ScaleFound::Found);
  float f = 0;
  WString unit;
  ScaleDisplayBlock got;
  mm.GetScale(&f, &unit, &got);
  EXPECT_EQ(f, 0.25f);
  EXPECT_EQ(unit, u"um");
  EXPECT_EQ(got, bar);
  EXPECT_NE(WString(mm.GetMeasure(0)->m_szResult).find(u"25.000 um"), WString::npos)
      << editors::Q(mm.GetMeasure(0)->m_szResult).toStdString();
  ASSERT_EQ(ApplySelectedScale(mm, u"CamB"), ScaleFound::Found);
  mm.GetScale(&f, &unit, &got);
  EXPECT_EQ(f, 2.0f);
  EXPECT_EQ(got, ScaleDisplayBlock{});
}

TEST_F(ScaleStoreTest, NoChosenScaleAppliesNothingAndAnUnusableOneGivesPixels) {
  CMeasureManager& mm = host->mm;
  ScaleDisplayBlock bar;
  bar.length = 1234;
  mm.SetScale(0.5f, u"um", bar);  // the scale of the camera before
  EXPECT_EQ(ApplySelectedScale(mm, u"CamA"), ScaleFound::NotChosen);  // no key at all
  ASSERT_EQ(WriteScale(u"CamA", u"Zero", u"0.000", u"0.0000", u"mm", ScaleDisplayBlock{}), ERROR_SUCCESS);
  ASSERT_EQ(WriteScale(u"CamA", u"Text", u"Can't Find!", u"inf", u"mm", ScaleDisplayBlock{}), ERROR_SUCCESS);
  ASSERT_EQ(WriteScale(u"CamA", u"Minus", u"1", u"-0.5", u"mm", ScaleDisplayBlock{}), ERROR_SUCCESS);
  EXPECT_EQ(ApplySelectedScale(mm, u"CamA"), ScaleFound::NotChosen);  // nothing selected
  ASSERT_EQ(WriteSelectedScale(u""), ERROR_SUCCESS);
  EXPECT_EQ(ApplySelectedScale(mm, u"CamA"), ScaleFound::NotChosen);
  EXPECT_EQ(mm.Unit(), u"um");
  for (const char16_t* name : {u"Zero", u"Text", u"Minus", u"Missing"}) {
    mm.SetScale(0.5f, u"um", bar);
    ASSERT_EQ(WriteSelectedScale(name), ERROR_SUCCESS);
    EXPECT_EQ(ApplySelectedScale(mm, u"CamA"), ScaleFound::Unusable) << editors::Q(name).toStdString();
    EXPECT_EQ(mm.Scale(), 1.0);
    EXPECT_EQ(mm.Unit(), u"px");
    EXPECT_EQ(mm.ScaleDisplay(), bar);  // the bar stays as it was
  }

  // A "Size" too long for the list's 255-byte buffer shows empty.
  ASSERT_EQ(WriteScale(u"CamA", u"Long", u"1", WString(200, u'1'), u"mm", ScaleDisplayBlock{}), ERROR_SUCCESS);
  for (const ScaleEntry& e : ReadScaleList(u"CamA"))
    if (e.name == u"Long") {
      EXPECT_TRUE(e.size.empty());
    }
}

}  // namespace
