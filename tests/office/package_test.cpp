// Packages: bounded reading of hostile archives, saving that never overwrites nor leaves partial
// files, text made safe for XML, and the fuzzing entry point on odd input.
#include <QTemporaryDir>

#include <fstream>

#include "platform/office/DocxDocument.h"
#include "platform/office/OpcParts.h"
#include "fuzz/office_template.h"
#include "platform/office/XlsxWorkbook.h"
#include "platform/durable_file.h"
#include "platform/office/ZipPackage.h"
#include "tests/fs_faults.h"
#include "tests/office/office_reader.h"

using namespace office;
using namespace office_test;

namespace {

class PackageTest : public ::testing::Test {
 protected:
  std::filesystem::path Path(const char* name) const { return std::filesystem::path(dir.path().toStdString()) / name; }
  std::string Slurp(const std::filesystem::path& p) const {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  QTemporaryDir dir;
};

}  // namespace

TEST_F(PackageTest, InflationBeyondTheLimitIsRefused) {
  // 8 MiB of zeros deflate to a few kilobytes: a small file that inflates far beyond the limit.
  WriteZip(Path("bomb.zip"), {{"a.xml", std::string(8u << 20, '\0')}});
  EXPECT_LT(std::filesystem::file_size(Path("bomb.zip")), 100000u);
  PackageLimits limits;
  limits.maxTotalBytes = 1u << 20;
  ZipPackage pkg;
  EXPECT_EQ(pkg.LoadFile(Path("bomb.zip"), limits).error, Error::TooLarge);
  limits.maxTotalBytes = 16u << 20;
  EXPECT_TRUE(pkg.LoadFile(Path("bomb.zip"), limits).ok());
  limits.maxEntries = 1;
  WriteZip(Path("many.zip"), {{"a", "1"}, {"b", "2"}});
  EXPECT_EQ(pkg.LoadFile(Path("many.zip"), limits).error, Error::TooLarge);
  limits = {};
  limits.maxFileBytes = 10;
  EXPECT_EQ(pkg.LoadFile(Path("many.zip"), limits).error, Error::TooLarge);
}

TEST_F(PackageTest, DamagedArchivesAreRefused) {
  WriteZip(Path("ok.zip"), {{"a.xml", std::string(5000, 'x')}});
  std::string bytes = Slurp(Path("ok.zip"));
  ZipPackage pkg;
  EXPECT_TRUE(pkg.LoadBytes(bytes).ok());
  EXPECT_EQ(pkg.LoadBytes(bytes.substr(0, bytes.size() / 2)).error, Error::NotAPackage);
  bytes[40] = char(bytes[40] ^ 0x5A);  // inside the compressed data: a CRC or inflate error
  EXPECT_FALSE(pkg.LoadBytes(bytes).ok());
  EXPECT_EQ(pkg.LoadBytes("").error, Error::NotAPackage);
}

TEST_F(PackageTest, SavingNeverOverwritesAndLeavesNothingOnFailure) {
  DocxDocument doc;
  ASSERT_TRUE(doc.Save(Path("r.docx"), true).ok());
  const std::string first = Slurp(Path("r.docx"));
  doc.AddParagraph(HAlign::Left, {{"second"}});
  EXPECT_EQ(doc.Save(Path("r.docx"), true).error, Error::Exists);
  EXPECT_EQ(Slurp(Path("r.docx")), first);

  XlsxWorkbook book;
  EXPECT_EQ(book.Save(Path("no/such/folder/r.xlsx"), true).error, Error::WriteFailed);
  EXPECT_FALSE(std::filesystem::exists(Path("no")));
  // Only the finished file is in the folder: no temporary left behind.
  ASSERT_TRUE(book.Save(Path("r.xlsx"), true).ok());
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(Path(""))) files += e.is_regular_file();
  EXPECT_EQ(files, 2);
}

// Written through the durable writer: a full disk, at a write or only at the close, fails the
// save with the disk's reason and leaves neither a file nor a temporary; a name as long as the
// file system allows saves; a save that may replace does.
TEST_F(PackageTest, AFullDiskFailsTheSaveAndLeavesNothing) {
  ZipPackage pkg;
  pkg.Put("[Content_Types].xml", "<Types/>");
  pkg.Put("word/media/image1.jpeg", std::string(3 << 20, 'j'), false);  // beyond the writer's buffer
  for (bool atClose : {false, true}) {
    SCOPED_TRACE(atClose ? "close" : "write");
    DurableFaults faults;
    faults.freeBytes = atClose ? -1 : 100000;
    faults.failClose = atClose;
    SetDurableFaults(faults);
    const Status saved = pkg.SaveFile(Path("Report.docx"), true);
    ClearDurableFaults();
    EXPECT_EQ(saved.error, Error::WriteFailed);
    EXPECT_NE(saved.detail.find("No space left on device"), std::string::npos) << saved.detail;
    EXPECT_TRUE(std::filesystem::is_empty(Path(""))) << std::filesystem::directory_iterator(Path(""))->path();
  }
  fs_faults::SmallFileSystem small(Path("small"), 512);
  if (small.mounted) {
    EXPECT_EQ(pkg.SaveFile(small.path / "Report.docx", true).error, Error::WriteFailed);
    EXPECT_TRUE(std::filesystem::is_empty(small.path));
  }

  const auto longest = Path("") / (std::string(250, 'r') + ".docx");
  ASSERT_TRUE(pkg.SaveFile(longest, true).ok());
  ZipPackage back;
  ASSERT_TRUE(back.LoadFile(longest).ok());
  EXPECT_EQ(back.Find("word/media/image1.jpeg")->size(), std::size_t(3) << 20);
  pkg.Put("extra.xml", "<x/>");
  ASSERT_TRUE(pkg.SaveFile(longest, false).ok());
  ASSERT_TRUE(back.LoadFile(longest).ok());
  EXPECT_TRUE(back.Has("extra.xml"));
}

TEST(OfficeText, TextIsMadeSafeForXml) {
  EXPECT_EQ(opc::CleanText("a\x01" "b\tc\n"), "ab\tc\n");
  EXPECT_EQ(opc::CleanText("\xC3\xA9\xE2\x80\xA2"), "\xC3\xA9\xE2\x80\xA2");  // é •
  EXPECT_EQ(opc::CleanText("x\xFFy"), "x\xEF\xBF\xBDy");                      // bad byte -> U+FFFD
  EXPECT_EQ(opc::CleanText("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // a lone surrogate
  EXPECT_EQ(opc::CleanText("\xEF\xBF\xBE"), "");                                // U+FFFE is not XML
  // Cut by UTF-16 units, never inside a character: the emoji takes two.
  EXPECT_EQ(opc::TruncateUtf16("ab\xF0\x9F\x98\x80", 3), "ab");
  EXPECT_EQ(opc::TruncateUtf16("ab\xF0\x9F\x98\x80", 4), "ab\xF0\x9F\x98\x80");
}

TEST(OfficeNames, PartNamesAndReferences) {
  EXPECT_EQ(opc::RelsPartOf("word/document.xml"), "word/_rels/document.xml.rels");
  EXPECT_EQ(opc::RelsPartOf(""), "_rels/.rels");
  EXPECT_EQ(opc::ResolveTarget("xl/worksheets/sheet1.xml", "../drawings/d1.xml"), "xl/drawings/d1.xml");
  EXPECT_EQ(opc::ResolveTarget("xl/workbook.xml", "/xl/styles.xml"), "xl/styles.xml");
  EXPECT_EQ(opc::ResolveTarget("xl/workbook.xml", "../../x"), "");
  EXPECT_EQ(opc::RelativeTarget("xl/worksheets/sheet1.xml", "xl/drawings/d1.xml"), "../drawings/d1.xml");
  EXPECT_EQ(opc::RelativeTarget("word/document.xml", "word/media/a.png"), "media/a.png");
  EXPECT_EQ(CellRef(36, 12), "L36");
  EXPECT_EQ(ColumnName(28), "AB");
  EXPECT_EQ(ColumnName(16384), "XFD");
  int r = 0, c = 0;
  EXPECT_TRUE(ParseCellRef("$AB$7", &r, &c));
  EXPECT_EQ(r, 7);
  EXPECT_EQ(c, 28);
  EXPECT_FALSE(ParseCellRef("XFE1", &r, &c));
  EXPECT_FALSE(ParseCellRef("A0", &r, &c));
  EXPECT_FALSE(ParseCellRef("A1048577", &r, &c));
  CellRange range;
  EXPECT_TRUE(ParseRangeRef("C5:A1", &range));
  EXPECT_EQ(range, (CellRange{1, 1, 5, 3}));
}

TEST_F(PackageTest, FuzzEntryTakesGarbageAndRealTemplates) {
  DocxDocument doc;
  ASSERT_TRUE(doc.Save(Path("d.docx"), true).ok());
  XlsxWorkbook book;
  ASSERT_TRUE(book.Save(Path("b.xlsx"), true).ok());
  for (const char* name : {"d.docx", "b.xlsx"}) {
    const std::string bytes = Slurp(Path(name));
    EXPECT_EQ(FuzzOfficeTemplate(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 0);
    for (std::size_t cut : {bytes.size() / 3, bytes.size() - 1})
      EXPECT_EQ(FuzzOfficeTemplate(reinterpret_cast<const std::uint8_t*>(bytes.data()), cut), 0);
  }
  const std::uint8_t junk[] = {'P', 'K', 3, 4, 0xFF, 0xFF, 0, 1};
  EXPECT_EQ(FuzzOfficeTemplate(junk, sizeof junk), 0);
  EXPECT_EQ(FuzzOfficeTemplate(nullptr, 0), 0);
}
