#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "model_test_util.h"

using namespace model_test;

namespace {

std::vector<std::pair<int, int>> g_notes;  // (index, action)

std::int32_t RecordNote(std::int32_t index, MEASUREBASE, std::int32_t action) {
  g_notes.emplace_back(index, action);
  return 1;
}

std::string ReadFile(const std::filesystem::path& p) {
  std::stringstream s;
  s << std::ifstream(p, std::ios::binary).rdbuf();
  return s.str();
}

void WriteFile(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

std::string Utf16le(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) out += {c, '\0'};
  return out;
}

// One arrow remark and the golden line, keys in the order the system writes them.
std::string GoldenSection() {
  return "[Cam1]\r\n"
         "RemarkCross0=" + HexStruct(GoldenArrowBytes()) + "\r\n"
         "Layer0PointCount=2\r\n"
         "Layer0Point0=000000000000000000\r\n"
         "Layer0Point1=030000000400000007\r\n"
         "Layer0=" + HexStruct(GoldenLineBytes()) + "\r\n"
         "CrossTotal=1\r\n"
         "LayerTotal=1\r\n";
}

}  // namespace

TEST(LayerFile, GoldenFileInAnsiAndUtf16) {
  const auto dir = TempDir();
  for (bool wide : {false, true}) {
    SCOPED_TRACE(wide ? "UTF-16LE" : "ANSI");
    const std::string golden = wide ? Utf16le(GoldenSection()) : GoldenSection();
    const auto path = dir / "golden.kvmi";
    WriteFile(path, golden);
    CMeasureManager m;
    ASSERT_TRUE(m.LoadLayers(path, u"Cam", 1));
    ASSERT_EQ(m.GetMeasureCount(), 1);
    ASSERT_EQ(m.GetRemarkCount(), 1);
    EXPECT_EQ(m.GetMeasure(0)->Serialize(), GoldenLine().Serialize());
    EXPECT_EQ(m.GetMeasure(0)->m_arrPoint, GoldenLine().m_arrPoint);
    EXPECT_EQ(m.GetRemark(0)->m_pt2, (POINT{20, 20}));
    ASSERT_TRUE(m.SaveLayers(path, u"Cam", 1));  // same keys, same bytes, same encoding
    EXPECT_EQ(ReadFile(path), golden);
    ASSERT_TRUE(m.SaveLayers(dir / "new.kvmi", u"Cam", 1));
    EXPECT_EQ(ReadFile(dir / "new.kvmi"), GoldenSection());
    std::filesystem::remove(dir / "new.kvmi");
  }
  CMeasureManager empty;
  ASSERT_TRUE(empty.SaveLayers(dir / "empty.kvmi", u"Cam", 1));
  EXPECT_EQ(ReadFile(dir / "empty.kvmi"), "[Cam1]\r\nCrossTotal=0\r\nLayerTotal=0\r\n");
  empty.LoadLayers(dir / "missing.kvmi", u"Cam", 1);
  empty.LoadLayers(dir / "golden.kvmi", u"Cam", 2);
  EXPECT_EQ(empty.GetMeasureCount() + empty.GetRemarkCount(), 0);
  // A save that cannot be written says so and leaves what was there.
  EXPECT_FALSE(empty.SaveLayers(dir / "no" / "dir.kvmi", u"Cam", 1));
  std::filesystem::create_directory(dir / "taken.kvmi");
  EXPECT_FALSE(empty.SaveLayers(dir / "taken.kvmi", u"Cam", 1));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "taken.kvmi"));
  std::filesystem::remove_all(dir);
}

TEST(LayerFile, RoundTripNotificationsAndShorterResave) {
  const auto dir = TempDir();
  const auto path = dir / "layers.kvmi";
  CMeasureManager src;
  src.AddRemark(5, 5, u"remark", 25, 0x00FF00);
  MEASUREBASE p;
  p.m_nKind = MK_POLYGON;
  for (int k = 0; k < 250; ++k) p.m_arrPoint.push_back(POINT{k, (k * 37) % 101});
  p.m_nPointCount = 250;
  CopyToBuffer(WString(499, u'\u00B2'), p.m_szResult, kResultTextLen);
  ASSERT_EQ(src.AddMeasure(p), 0);
  AddShape(src, MK_CIRCLE2CIRCLE, {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {30, 40}});
  const int pts = AddShape(src, MK_POINT, {{1, 1}, {2, 2}});
  EditMeasure(src, pts, [](MEASUREBASE& r) { r.m_arrPoint.resize(1000); });  // open shape: only points in use are saved
  ASSERT_TRUE(src.SaveLayers(path, u"Cam", 0));

  g_notes.clear();
  CMeasureManager dst;
  dst.SetNotifyTarget(nullptr, &RecordNote);
  dst.LoadLayers(path, u"Cam", 0);
  ASSERT_EQ(dst.GetMeasureCount(), 3);
  // The polygon's text came back made from its points; the rest is as saved.
  EXPECT_EQ(Text(dst.GetMeasure(0)->m_szResult).substr(0, 3), u"S: ");
  src.RefreshResultTexts();
  for (int i = 0; i < 3; ++i) {
    const MEASUREBASE& a = *src.GetMeasure(i);
    EXPECT_EQ(a.Serialize(), dst.GetMeasure(i)->Serialize()) << i;
    EXPECT_EQ(std::vector<POINT>(a.m_arrPoint.begin(), a.m_arrPoint.begin() + a.m_nPointCount),
              dst.GetMeasure(i)->m_arrPoint) << i;
  }
  EXPECT_EQ(dst.GetRemark(0)->Serialize(), src.GetRemark(0)->Serialize());
  EXPECT_EQ(g_notes, (std::vector<std::pair<int, int>>{{0, 1}, {1, 1}, {2, 1}}));

  // A later, shorter save leaves the old keys behind; the totals decide what is read. A second
  // load stores after what is there.
  CMeasureManager one;
  AddShape(one, MK_LINE, {{0, 0}, {2, 2}});
  ASSERT_TRUE(one.SaveLayers(path, u"Cam", 0));
  EXPECT_NE(ReadFile(path).find("Layer2="), std::string::npos);
  CMeasureManager back;
  back.LoadLayers(path, u"Cam", 0);
  back.LoadLayers(path, u"Cam", 0);
  EXPECT_EQ(back.GetMeasureCount(), 2);
  EXPECT_EQ(back.GetMeasure(1)->m_arrPoint[1], (POINT{2, 2}));
  std::filesystem::remove_all(dir);
}

TEST(LayerFile, DamagedFilesKeepTheValidRecords) {
  const auto dir = TempDir();
  const auto path = dir / "damaged.kvmi";
  std::vector<std::uint8_t> foreign = GoldenArrowBytes(), unterminated = GoldenLineBytes(), tooFew = GoldenLineBytes();
  PutLE(foreign, 0, 300);
  for (std::size_t k = 44; k < 1044; k += 2) unterminated[k] = 'A';
  PutLE(tooFew, 0, MK_LINE2LINE);
  std::string badSum = HexStruct(GoldenArrowBytes());
  badSum.back() = badSum.back() == '0' ? '1' : '0';
  const std::string line = HexStruct(GoldenLineBytes());
  WriteFile(path, "[Cam7]\r\n"
                  "RemarkCross0=" + HexStruct(GoldenArrowBytes()) + "\r\n"
                  "RemarkCross1=" + badSum + "\r\n"
                  "RemarkCross2=" + HexStruct(foreign) + "\r\n"  // unknown kind
                  "Layer0PointCount=2\r\nLayer0Point1=030000000400000007\r\nLayer0=" + line + "\r\n"
                  "Layer1PointCount=2\r\nLayer1=" + line.substr(4) + "\r\n"  // wrong length
                  "Layer2PointCount=2\r\n"                                   // record missing
                  "Layer3PointCount=2\r\nLayer3Point1=0300000004000000ZZ\r\n"  // bad hex point
                  "Layer3=" + HexStruct(unterminated) + "\r\n"
                  "Layer4PointCount=2147483647\r\nLayer4=" + line + "\r\n"
                  "Layer5PointCount=2\r\nLayer5=" + HexStruct(tooFew) + "\r\n"  // 262 needs 4 points
                  "CrossTotal=99999999\r\nLayerTotal=2147483647\r\n");
  g_notes.clear();
  CMeasureManager m;
  m.SetNotifyTarget(nullptr, &RecordNote);
  m.LoadLayers(path, u"Cam", 7);
  EXPECT_EQ(m.GetRemarkCount(), 1);
  ASSERT_EQ(m.GetMeasureCount(), 3);
  EXPECT_EQ(m.GetMeasure(0)->m_arrPoint, GoldenLine().m_arrPoint);  // missing point 0 reads (0, 0)
  EXPECT_EQ(Text(m.GetMeasure(1)->m_szResult), u"L: 0.000 px");  // the unterminated text is made again
  EXPECT_EQ(m.GetMeasure(1)->m_arrPoint, (std::vector<POINT>{{0, 0}, {0, 0}}));
  EXPECT_EQ(m.GetMeasure(2)->m_arrPoint.size(), std::size_t(kMaxOpenShapePoints));
  EXPECT_EQ(g_notes, (std::vector<std::pair<int, int>>{{0, 1}, {1, 1}, {2, 1}}));

  CMeasureManager full;  // the stores fill up: the load stops cleanly
  MeasureTestAccess::MeasureCount(full) = kMeasureSlots - 1;
  MeasureTestAccess::RemarkCount(full) = kMeasureSlots;
  full.LoadLayers(path, u"Cam", 7);
  EXPECT_EQ(full.GetMeasureCount(), kMeasureSlots);
  EXPECT_EQ(full.GetRemarkCount(), kMeasureSlots);
  EXPECT_EQ(full.GetMeasure(kMeasureSlots - 1)->m_nKind, MK_LINE);
  std::filesystem::remove_all(dir);
}

// A record whose own count field is below what its kind needs is taken when the point keys supply
// the points; it must then save in a form the next load takes too, with the same points and values.
TEST(LayerFile, ACountFieldBelowTheKindStillSavesLoadably) {
  const auto dir = TempDir();
  const auto path = dir / "in.kvmi", again = dir / "again.kvmi";
  std::vector<std::uint8_t> line = GoldenLineBytes(), fold = GoldenLineBytes();
  PutLE(line, 20, 0);  // count field 0 for a line
  PutLE(fold, 0, MK_FOLDLINE);
  PutLE(fold, 20, 1);  // an open shape keeps its count
  WriteFile(path, "[Cam1]\r\n"
                  "Layer0PointCount=2\r\nLayer0Point0=000000000000000000\r\nLayer0Point1=030000000400000007\r\n"
                  "Layer0=" + HexStruct(line) + "\r\n"
                  "Layer1PointCount=3\r\nLayer1Point0=010000000100000002\r\nLayer1Point1=020000000200000004\r\n"
                  "Layer1=" + HexStruct(fold) + "\r\n"
                  "CrossTotal=0\r\nLayerTotal=2\r\n");
  CMeasureManager first;
  first.LoadLayers(path, u"Cam", 1);
  ASSERT_EQ(first.GetMeasureCount(), 2);
  EXPECT_EQ(first.GetMeasure(0)->m_nPointCount, 2);
  EXPECT_EQ(first.GetMeasure(1)->m_nPointCount, 1);
  first.SetScale(1.0f, u"px", ScaleDisplayBlock{});
  EXPECT_EQ(Text(first.GetMeasure(0)->m_szResult), u"L: 5.000 px");

  ASSERT_TRUE(first.SaveLayers(again, u"Cam", 1));
  CMeasureManager second;
  second.LoadLayers(again, u"Cam", 1);
  ASSERT_EQ(second.GetMeasureCount(), 2);
  for (int i = 0; i < 2; ++i) {
    const MEASUREBASE &a = *first.GetMeasure(i), &b = *second.GetMeasure(i);
    EXPECT_EQ(a.Serialize(), b.Serialize()) << i;
    EXPECT_EQ(std::vector<POINT>(a.m_arrPoint.begin(), a.m_arrPoint.begin() + a.m_nPointCount), b.m_arrPoint) << i;
  }
  std::filesystem::remove_all(dir);
}
