// .docx through pugixml over a zip package: the blank document is a small built-in package that
// takes the same path as a template, so both cases are one mechanism.
#include "platform/office/DocxDocument.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <pugixml.hpp>

#include "platform/office/OpcParts.h"

namespace office {

namespace {

constexpr const char* kWordNs = "http://schemas.openxmlformats.org/wordprocessingml/2006/main";
constexpr const char* kWpNs = "http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing";
constexpr const char* kDocumentType = "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml";
constexpr const char* kTemplateType = "application/vnd.openxmlformats-officedocument.wordprocessingml.template.main+xml";
constexpr std::int64_t kEmuPerTwip = 635;
constexpr std::int64_t kEmuPerPixel = 9525;  // at 96 dpi

constexpr const char* kBlankTypes = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/><Override PartName="/word/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.styles+xml"/></Types>)";
constexpr const char* kBlankRootRels = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/></Relationships>)";
constexpr const char* kBlankDocRels = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/></Relationships>)";
constexpr const char* kBlankDocument = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships" xmlns:wp="http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing"><w:body><w:sectPr><w:pgSz w:w="11906" w:h="16838"/><w:pgMar w:top="1440" w:right="1800" w:bottom="1440" w:left="1800" w:header="851" w:footer="992" w:gutter="0"/></w:sectPr></w:body></w:document>)";
constexpr const char* kBlankStyles = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<w:styles xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"><w:docDefaults><w:rPrDefault><w:rPr><w:sz w:val="21"/><w:szCs w:val="21"/><w:lang w:val="en-US" w:eastAsia="zh-CN"/></w:rPr></w:rPrDefault><w:pPrDefault/></w:docDefaults><w:style w:type="paragraph" w:default="1" w:styleId="Normal"><w:name w:val="Normal"/><w:qFormat/></w:style></w:styles>)";

std::int64_t TwipsAttr(pugi::xml_node n, const std::string& name, std::int64_t fallback) {
  pugi::xml_attribute a = n.attribute(name.c_str());
  if (!a) return fallback;
  return std::llabs(std::strtoll(a.value(), nullptr, 10));
}

const char* AlignValue(HAlign a) {
  switch (a) {
    case HAlign::Center: return "center";
    case HAlign::Right: return "right";
    default: return "left";
  }
}

}  // namespace

struct DocxDocument::Impl {
  ZipPackage pkg;
  opc::ContentTypes types;
  opc::Relationships rels;  // of the main part
  std::string mainPart;
  pugi::xml_document doc;
  std::string w, wp, r;  // the prefixes the document binds
  pugi::xml_node body;

  std::string W(std::string_view local) const { return opc::Qn(w, local); }

  // The body's final section properties, when it has them.
  pugi::xml_node FinalSectPr() const {
    pugi::xml_node last = body.last_child();
    while (last && last.type() != pugi::node_element) last = last.previous_sibling();
    return last && last.name() == W("sectPr") ? last : pugi::xml_node();
  }

  // The page's size less two margins in the last section (A4 defaults), at least an inch, in EMU.
  std::int64_t TextExtent(const char* size, std::int64_t page, const char* margin1, const char* margin2,
                          std::int64_t margin) const {
    pugi::xml_node sect = FinalSectPr();
    pugi::xml_node mar = sect.child(W("pgMar").c_str());
    const std::int64_t text = TwipsAttr(sect.child(W("pgSz").c_str()), W(size), page) -
                              TwipsAttr(mar, W(margin1), margin) - TwipsAttr(mar, W(margin2), margin);
    return std::max<std::int64_t>(text, 1440) * kEmuPerTwip;
  }

  pugi::xml_node AppendBlock(const char* local) {
    const std::string name = W(local);
    pugi::xml_node sect = FinalSectPr();
    return sect ? body.insert_child_before(name.c_str(), sect) : body.append_child(name.c_str());
  }

  void SetVal(pugi::xml_node parent, const char* local, const std::string& value) {
    pugi::xml_node n = parent.append_child(W(local).c_str());
    n.append_attribute(W("val").c_str()) = value.c_str();
  }

  void AppendRunProps(pugi::xml_node run, const DocxRun& f) {
    if (!f.bold && !f.sizePt) return;
    pugi::xml_node rpr = run.append_child(W("rPr").c_str());
    if (f.bold) {
      for (const char* tag : {"b", "bCs"}) {
        pugi::xml_node b = rpr.append_child(W(tag).c_str());
        if (!*f.bold) b.append_attribute(W("val").c_str()) = "0";
      }
    }
    if (f.sizePt) {
      const std::string half = std::to_string(std::lround(*f.sizePt * 2));
      SetVal(rpr, "sz", half);
      SetVal(rpr, "szCs", half);
    }
  }

  void AppendRun(pugi::xml_node para, const DocxRun& f) {
    pugi::xml_node run = para.append_child(W("r").c_str());
    AppendRunProps(run, f);
    const std::string text = opc::CleanText(f.text);
    std::string segment;
    auto flush = [&] {
      if (segment.empty()) return;
      pugi::xml_node t = run.append_child(W("t").c_str());
      t.append_attribute("xml:space") = "preserve";
      t.text().set(segment.c_str());
      segment.clear();
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char c = text[i];
      if (c != '\t' && c != '\r' && c != '\n') {
        segment += c;
        continue;
      }
      flush();
      run.append_child(W(c == '\t' ? "tab" : "br").c_str());
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;  // CR LF is one break
    }
    flush();
  }

  void AppendParagraphProps(pugi::xml_node para, HAlign align, bool picture = false) {
    pugi::xml_node ppr = para.append_child(W("pPr").c_str());
    if (picture) {
      // A gap above the picture, so that it never covers a table's bottom border, and line
      // spacing that follows the picture's height: a fixed spacing of the template's style would
      // cut it.
      pugi::xml_node sp = ppr.append_child(W("spacing").c_str());
      sp.append_attribute(W("before").c_str()) = "120";
      sp.append_attribute(W("after").c_str()) = "0";
      sp.append_attribute(W("line").c_str()) = "240";
      sp.append_attribute(W("lineRule").c_str()) = "auto";
    }
    SetVal(ppr, "jc", AlignValue(align));
  }

  void AppendPicture(pugi::xml_node para, const DocxPicture& pic) {
    const std::uint32_t id = opc::NextId(doc.document_element(), "docPr", "id");
    const std::string name = "Picture " + std::to_string(id);
    const std::string a = opc::EnsurePrefix(doc.document_element(), opc::kDrawingMlNs, "a");
    const std::string p = opc::EnsurePrefix(doc.document_element(), opc::kPictureNs, "pic");
    auto Q = [](const std::string& prefix, const char* local) { return opc::Qn(prefix, local); };
    auto Ext = [&](pugi::xml_node n) {
      n.append_attribute("cx") = static_cast<long long>(pic.cx);
      n.append_attribute("cy") = static_cast<long long>(pic.cy);
    };
    pugi::xml_node drawing = para.append_child(W("r").c_str()).append_child(W("drawing").c_str());
    pugi::xml_node inl = drawing.append_child(Q(wp, "inline").c_str());
    for (const char* d : {"distT", "distB", "distL", "distR"}) inl.append_attribute(d) = "0";
    Ext(inl.append_child(Q(wp, "extent").c_str()));
    pugi::xml_node eff = inl.append_child(Q(wp, "effectExtent").c_str());
    for (const char* d : {"l", "t", "r", "b"}) eff.append_attribute(d) = "0";
    pugi::xml_node docPr = inl.append_child(Q(wp, "docPr").c_str());
    docPr.append_attribute("id") = id;
    docPr.append_attribute("name") = name.c_str();
    inl.append_child(Q(wp, "cNvGraphicFramePr").c_str())
        .append_child(Q(a, "graphicFrameLocks").c_str())
        .append_attribute("noChangeAspect") = "1";
    pugi::xml_node data = inl.append_child(Q(a, "graphic").c_str()).append_child(Q(a, "graphicData").c_str());
    data.append_attribute("uri") = opc::kPictureNs;
    pugi::xml_node pp = data.append_child(Q(p, "pic").c_str());
    pugi::xml_node nv = pp.append_child(Q(p, "nvPicPr").c_str());
    pugi::xml_node cnv = nv.append_child(Q(p, "cNvPr").c_str());
    cnv.append_attribute("id") = 0;
    cnv.append_attribute("name") = (name + ".png").c_str();
    nv.append_child(Q(p, "cNvPicPr").c_str());
    pugi::xml_node fill = pp.append_child(Q(p, "blipFill").c_str());
    fill.append_child(Q(a, "blip").c_str()).append_attribute(Q(r, "embed").c_str()) = pic.relId.c_str();
    fill.append_child(Q(a, "stretch").c_str()).append_child(Q(a, "fillRect").c_str());
    pugi::xml_node sp = pp.append_child(Q(p, "spPr").c_str());
    pugi::xml_node xfrm = sp.append_child(Q(a, "xfrm").c_str());
    pugi::xml_node off = xfrm.append_child(Q(a, "off").c_str());
    off.append_attribute("x") = 0;
    off.append_attribute("y") = 0;
    Ext(xfrm.append_child(Q(a, "ext").c_str()));
    pugi::xml_node geom = sp.append_child(Q(a, "prstGeom").c_str());
    geom.append_attribute("prst") = "rect";
    geom.append_child(Q(a, "avLst").c_str());
  }
};

DocxDocument::DocxDocument() { InitBlank(); }

void DocxDocument::InitBlank() {
  d_ = std::make_unique<Impl>();
  opc::PutSkeleton(d_->pkg, "[Content_Types].xml", kBlankTypes);
  opc::PutSkeleton(d_->pkg, "_rels/.rels", kBlankRootRels);
  opc::PutSkeleton(d_->pkg, "word/_rels/document.xml.rels", kBlankDocRels);
  opc::PutSkeleton(d_->pkg, "word/document.xml", kBlankDocument);
  opc::PutSkeleton(d_->pkg, "word/styles.xml", kBlankStyles);
  if (!Attach().ok()) std::abort();  // the built-in package is well-formed
}

DocxDocument::~DocxDocument() = default;

Status DocxDocument::LoadTemplate(const std::filesystem::path& file, const PackageLimits& limits) {
  std::string bytes;
  const Status read = ZipPackage::ReadFile(file, limits, &bytes);
  if (read.ok()) return LoadTemplateBytes(bytes, limits);
  InitBlank();
  return read;
}

Status DocxDocument::LoadTemplateBytes(std::string_view bytes, const PackageLimits& limits) {
  d_ = std::make_unique<Impl>();
  Status s = d_->pkg.LoadBytes(bytes, limits);
  if (s.ok()) s = Attach();
  if (!s.ok()) InitBlank();
  return s;
}

Status DocxDocument::Attach() {
  Impl& d = *d_;
  if (Status s = opc::FindMainPart(d.pkg, d.types, kDocumentType, kTemplateType, &d.mainPart); !s.ok()) return s;
  if (Status s = opc::ParseXml(d.pkg, d.mainPart, d.doc); !s.ok()) return s;
  pugi::xml_node rootEl = d.doc.document_element();
  bool found = false;
  d.w = opc::PrefixOf(rootEl, kWordNs, &found);
  if (!found || opc::LocalName(rootEl.name()) != "document" || rootEl.name() != d.W("document"))
    return Status::Fail(Error::Unsupported, "the main part is not a transitional WordprocessingML document");
  d.body = rootEl.child(d.W("body").c_str());
  if (!d.body) return Status::Fail(Error::BrokenPart, "the document has no body");
  d.wp = opc::EnsurePrefix(rootEl, kWpNs, "wp");
  d.r = opc::EnsurePrefix(rootEl, opc::kDocRelsNs, "r");
  return d.rels.Load(d.pkg, d.mainPart);
}

bool DocxDocument::EndsWithParagraph() const {
  pugi::xml_node sect = d_->FinalSectPr();
  pugi::xml_node last = sect ? sect.previous_sibling() : d_->body.last_child();
  while (last && last.type() != pugi::node_element) last = last.previous_sibling();
  return last && last.name() == d_->W("p");
}

std::int64_t DocxDocument::TextWidthEmu() const { return d_->TextExtent("w", 11906, "left", "right", 1800); }
std::int64_t DocxDocument::TextHeightEmu() const { return d_->TextExtent("h", 16838, "top", "bottom", 1440); }

void DocxDocument::AddParagraph(HAlign align, const std::vector<DocxRun>& runs, const DocxPicture* picture) {
  pugi::xml_node para = d_->AppendBlock("p");
  d_->AppendParagraphProps(para, align, picture != nullptr);
  for (const DocxRun& run : runs)
    if (!run.text.empty()) d_->AppendRun(para, run);  // typing nothing leaves no run
  if (picture) d_->AppendPicture(para, *picture);
}

void DocxDocument::AddTable(const std::vector<std::vector<std::string>>& cells, HAlign cellAlign,
                            const DocxRun& format) {
  Impl& d = *d_;
  std::size_t columns = 1;
  for (const auto& row : cells) columns = std::max(columns, row.size());
  const std::int64_t width = TextWidthEmu() / kEmuPerTwip;
  const std::string colWidth = std::to_string(width / std::int64_t(columns));
  auto Width = [&](pugi::xml_node parent, const char* tag, const std::string& w) {
    pugi::xml_node n = parent.append_child(d.W(tag).c_str());
    n.append_attribute(d.W("w").c_str()) = w.c_str();
    n.append_attribute(d.W("type").c_str()) = "dxa";
  };

  pugi::xml_node tbl = d.AppendBlock("tbl");
  pugi::xml_node pr = tbl.append_child(d.W("tblPr").c_str());
  Width(pr, "tblW", std::to_string(width));
  pugi::xml_node borders = pr.append_child(d.W("tblBorders").c_str());
  for (const char* side : {"top", "left", "bottom", "right", "insideH", "insideV"}) {
    pugi::xml_node b = borders.append_child(d.W(side).c_str());
    b.append_attribute(d.W("val").c_str()) = "single";
    b.append_attribute(d.W("sz").c_str()) = "4";
    b.append_attribute(d.W("space").c_str()) = "0";
    b.append_attribute(d.W("color").c_str()) = "auto";
  }
  pr.append_child(d.W("tblLayout").c_str()).append_attribute(d.W("type").c_str()) = "fixed";
  pugi::xml_node grid = tbl.append_child(d.W("tblGrid").c_str());
  for (std::size_t c = 0; c < columns; ++c)
    grid.append_child(d.W("gridCol").c_str()).append_attribute(d.W("w").c_str()) = colWidth.c_str();
  for (const auto& row : cells) {
    pugi::xml_node tr = tbl.append_child(d.W("tr").c_str());
    for (std::size_t c = 0; c < columns; ++c) {
      pugi::xml_node tc = tr.append_child(d.W("tc").c_str());
      Width(tc.append_child(d.W("tcPr").c_str()), "tcW", colWidth);
      pugi::xml_node para = tc.append_child(d.W("p").c_str());
      d.AppendParagraphProps(para, cellAlign);
      DocxRun run = format;
      run.text = c < row.size() ? row[c] : std::string();
      if (!run.text.empty()) d.AppendRun(para, run);
    }
  }
}

DocxPicture DocxDocument::AddPng(std::string png, int widthPx, int heightPx, std::int64_t maxHeightEmu) {
  Impl& d = *d_;
  const opc::PictureType type = opc::PictureTypeOf(png);
  const std::string part = opc::FreePartName(d.pkg, "word/media/q7v_image", std::string(".") + type.extension);
  d.pkg.Put(part, std::move(png), false);  // compressed already
  d.types.EnsureDefault(type.extension, type.contentType);
  DocxPicture pic;
  pic.relId = d.rels.Add(opc::kImageRel, part);
  // Shown like an inserted picture: natural size, shrunk to the text area keeping its shape.
  double cx = double(std::max(widthPx, 1)) * kEmuPerPixel, cy = double(std::max(heightPx, 1)) * kEmuPerPixel;
  const std::int64_t height = maxHeightEmu > 0 ? std::min(maxHeightEmu, TextHeightEmu()) : TextHeightEmu();
  const double scale = std::min({1.0, double(TextWidthEmu()) / cx, double(height) / cy});
  pic.cx = std::max<std::int64_t>(1, std::llround(cx * scale));
  pic.cy = std::max<std::int64_t>(1, std::llround(cy * scale));
  return pic;
}

Status DocxDocument::Save(const std::filesystem::path& file, bool exclusive) {
  Impl& d = *d_;
  opc::StoreXml(d.pkg, d.mainPart, d.doc);
  d.rels.Store(d.pkg);
  d.types.Store(d.pkg);
  return d.pkg.SaveFile(file, exclusive);
}

}  // namespace office
