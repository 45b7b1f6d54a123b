// Pictures on the active worksheet: a drawing part (the sheet's own when it has one, so the
// template's pictures stay) with the picture anchored at one cell and sized in EMU.
#include "platform/office/XlsxInternal.h"

namespace office {

namespace {

constexpr const char* kXdrNs = "http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing";
constexpr const char* kDrawingRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/drawing";
constexpr const char* kDrawingType = "application/vnd.openxmlformats-officedocument.drawing+xml";
constexpr const char* kBlankDrawing = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<xdr:wsDr xmlns:xdr="http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing" xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main"/>)";

}  // namespace

void XlsxWorkbook::PlacePng(std::string png, int row, int col, std::int64_t rowOffsetEmu, std::int64_t colOffsetEmu,
                            std::int64_t cx, std::int64_t cy) {
  Impl& d = *d_;
  pugi::xml_node ws = d.sheet.document_element();
  const std::string rs = opc::EnsurePrefix(ws, opc::kDocRelsNs, "r");

  // The sheet's drawing, or a new one.
  std::string drawingPart;
  pugi::xml_node drawingRef = ws.child(d.S("drawing").c_str());
  if (drawingRef) drawingPart = d.sheetRels.TargetOfId(drawingRef.attribute(opc::Qn(rs, "id").c_str()).value());
  pugi::xml_document drawing;
  if (drawingPart.empty() || !opc::ParseXml(d.pkg, drawingPart, drawing).ok() ||
      opc::LocalName(drawing.document_element().name()) != "wsDr") {
    if (drawingRef) ws.remove_child(drawingRef);
    drawingPart = opc::FreePartName(d.pkg, "xl/drawings/drawing", ".xml");
    opc::LoadSkeleton(drawing, kBlankDrawing);
    const std::string id = d.sheetRels.Add(kDrawingRel, drawingPart);
    d.InsertSheetChild("drawing").append_attribute(opc::Qn(rs, "id").c_str()) = id.c_str();
    d.types.SetOverride(drawingPart, kDrawingType);
  }
  pugi::xml_node root = drawing.document_element();
  const std::string x = opc::EnsurePrefix(root, kXdrNs, "xdr");
  const std::string a = opc::EnsurePrefix(root, opc::kDrawingMlNs, "a");
  const std::string r = opc::EnsurePrefix(root, opc::kDocRelsNs, "r");

  opc::Relationships drawingRels;
  drawingRels.Load(d.pkg, drawingPart);
  const opc::PictureType type = opc::PictureTypeOf(png);
  const std::string media = opc::FreePartName(d.pkg, "xl/media/q7v_image", std::string(".") + type.extension);
  d.pkg.Put(media, std::move(png), false);  // compressed already
  d.types.EnsureDefault(type.extension, type.contentType);
  const std::string blipId = drawingRels.Add(opc::kImageRel, media);

  auto X = [&](const char* local) { return opc::Qn(x, local); };
  auto A = [&](const char* local) { return opc::Qn(a, local); };
  auto Ext = [&](pugi::xml_node n) {
    n.append_attribute("cx") = static_cast<long long>(cx);
    n.append_attribute("cy") = static_cast<long long>(cy);
  };
  const std::uint32_t id = opc::NextId(root, "cNvPr", "id");
  pugi::xml_node anchor = root.append_child(X("oneCellAnchor").c_str());
  pugi::xml_node from = anchor.append_child(X("from").c_str());
  from.append_child(X("col").c_str()).text().set(col - 1);
  from.append_child(X("colOff").c_str()).text().set(static_cast<long long>(colOffsetEmu));
  from.append_child(X("row").c_str()).text().set(row - 1);
  from.append_child(X("rowOff").c_str()).text().set(static_cast<long long>(rowOffsetEmu));
  Ext(anchor.append_child(X("ext").c_str()));
  pugi::xml_node pic = anchor.append_child(X("pic").c_str());
  pugi::xml_node nv = pic.append_child(X("nvPicPr").c_str());
  pugi::xml_node cnv = nv.append_child(X("cNvPr").c_str());
  cnv.append_attribute("id") = id;
  cnv.append_attribute("name") = ("Picture " + std::to_string(id)).c_str();
  nv.append_child(X("cNvPicPr").c_str()).append_child(A("picLocks").c_str()).append_attribute("noChangeAspect") = "1";
  pugi::xml_node fill = pic.append_child(X("blipFill").c_str());
  fill.append_child(A("blip").c_str()).append_attribute(opc::Qn(r, "embed").c_str()) = blipId.c_str();
  fill.append_child(A("stretch").c_str()).append_child(A("fillRect").c_str());
  pugi::xml_node sp = pic.append_child(X("spPr").c_str());
  pugi::xml_node xfrm = sp.append_child(A("xfrm").c_str());
  pugi::xml_node off = xfrm.append_child(A("off").c_str());
  off.append_attribute("x") = 0;
  off.append_attribute("y") = 0;
  Ext(xfrm.append_child(A("ext").c_str()));
  pugi::xml_node geom = sp.append_child(A("prstGeom").c_str());
  geom.append_attribute("prst") = "rect";
  geom.append_child(A("avLst").c_str());
  anchor.append_child(X("clientData").c_str());

  opc::StoreXml(d.pkg, drawingPart, drawing);
  drawingRels.Store(d.pkg);
}

}  // namespace office
