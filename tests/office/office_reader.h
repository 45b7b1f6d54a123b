#pragma once
// Test helpers: packages read back and written by hand with libzip, parts parsed with pugixml,
// and the few lookups the assertions need (cell formats, relationship targets).
#include <gtest/gtest.h>
#include <zip.h>

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <pugixml.hpp>

namespace office_test {

using Parts = std::map<std::string, std::string>;

inline Parts ReadZip(const std::filesystem::path& file) {
  Parts parts;
  int err = 0;
  zip_t* z = zip_open(file.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &err);
  if (!z) {
    ADD_FAILURE() << "not a zip: " << file;
    return parts;
  }
  for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i) {
    zip_stat_t st;
    zip_stat_index(z, zip_uint64_t(i), 0, &st);
    std::string data(std::size_t(st.size), '\0');
    zip_file_t* f = zip_fopen_index(z, zip_uint64_t(i), 0);
    EXPECT_EQ(zip_fread(f, data.data(), st.size), zip_int64_t(st.size));
    zip_fclose(f);
    // pugixml would take a repeated or misplaced declaration; office programs do not.
    const std::size_t decl = data.find("<?xml");
    EXPECT_TRUE(decl == std::string::npos || (decl == 0 && data.find("<?xml", 1) == std::string::npos)) << st.name;
    parts[st.name] = std::move(data);
  }
  zip_discard(z);
  return parts;
}

inline void WriteZip(const std::filesystem::path& file, const std::vector<std::pair<std::string, std::string>>& parts) {
  int err = 0;
  zip_t* z = zip_open(file.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  ASSERT_NE(z, nullptr);
  for (const auto& [name, data] : parts) {
    zip_source_t* s = zip_source_buffer(z, data.data(), data.size(), 0);
    ASSERT_GE(zip_file_add(z, name.c_str(), s, ZIP_FL_ENC_UTF_8), 0);
  }
  ASSERT_EQ(zip_close(z), 0);
}

struct Xml {
  explicit Xml(const std::string& text) {
    const auto r = doc.load_buffer(text.data(), text.size(), pugi::parse_default | pugi::parse_ws_pcdata);
    EXPECT_TRUE(r) << r.description();
  }
  pugi::xpath_node_set Select(const char* xpath) const { return doc.select_nodes(xpath); }
  pugi::xml_node One(const char* xpath) const { return doc.select_node(xpath).node(); }
  pugi::xml_document doc;
};

// The text of a Word paragraph (its w:t runs).
inline std::string ParagraphText(pugi::xml_node p) {
  std::string out;
  for (pugi::xpath_node t : p.select_nodes(".//w:t")) out += t.node().text().get();
  return out;
}

// A cell's bold and size, and alignment and borders, through its format in the styles part.
struct CellFormat {
  bool bold = false;
  double size = 0;
  std::string horizontal, vertical;
  std::string left, right, top, bottom;
};

inline CellFormat FormatOf(const Xml& styles, int xf) {
  CellFormat f;
  pugi::xml_node x = styles.doc.select_nodes("/styleSheet/cellXfs/xf")[std::size_t(xf)].node();
  pugi::xml_node font = styles.doc.select_nodes("/styleSheet/fonts/font")[x.attribute("fontId").as_uint()].node();
  f.bold = font.child("b") && font.child("b").attribute("val").as_bool(true);
  f.size = font.child("sz").attribute("val").as_double();
  f.horizontal = x.child("alignment").attribute("horizontal").value();
  f.vertical = x.child("alignment").attribute("vertical").value();
  pugi::xml_node b = styles.doc.select_nodes("/styleSheet/borders/border")[x.attribute("borderId").as_uint()].node();
  f.left = b.child("left").attribute("style").value();
  f.right = b.child("right").attribute("style").value();
  f.top = b.child("top").attribute("style").value();
  f.bottom = b.child("bottom").attribute("style").value();
  return f;
}

// The <c> element of a cell in a sheet part.
inline pugi::xml_node Cell(const Xml& sheet, const std::string& ref) {
  return sheet.doc.select_node(("/worksheet/sheetData/row/c[@r='" + ref + "']").c_str()).node();
}

inline std::string InlineText(pugi::xml_node c) { return c.child("is").child("t").text().get(); }

inline std::vector<std::string> MergeRefs(const Xml& sheet) {
  std::vector<std::string> refs;
  for (pugi::xpath_node m : sheet.Select("/worksheet/mergeCells/mergeCell")) refs.push_back(m.node().attribute("ref").value());
  return refs;
}

// The target of relationship `id` in a relationships part.
inline std::string RelTarget(const std::string& rels, const std::string& id) {
  Xml x(rels);
  return x.One(("/Relationships/Relationship[@Id='" + id + "']").c_str()).attribute("Target").value();
}

}  // namespace office_test
