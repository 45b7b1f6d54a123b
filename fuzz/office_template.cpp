// The fuzzing entry point of the template readers.
#include "fuzz/office_template.h"

#include <string_view>

#include "platform/office/DocxDocument.h"
#include "platform/office/XlsxWorkbook.h"

namespace office {

int FuzzOfficeTemplate(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  PackageLimits limits;
  limits.maxTotalBytes = std::size_t(64) << 20;  // keeps a fuzzing run's memory bounded

  DocxDocument doc;
  if (doc.LoadTemplateBytes(bytes, limits).ok()) {
    doc.AddParagraph(HAlign::Center, {{"title", true, 25.0}});
    doc.AddTable({{"a", "b"}, {"c"}}, HAlign::Center, {{}, false, 10.5});
    const DocxPicture pic = doc.AddPng(std::string("\x89PNG", 4), 10, 10);
    doc.AddParagraph(HAlign::Left, {}, &pic);
  }

  XlsxWorkbook book;
  if (book.LoadTemplateBytes(bytes, limits).ok()) {
    for (int r = 1; r <= 60; ++r)
      for (int c = 1; c <= 50; ++c) (void)book.CellText(r, c);
    book.SetSheetName("Measuring Record");
    book.SetText(2, 1, "x");
    book.Merge({2, 1, 2, 12});
    book.BorderAround({1, 1, 3, 12});
    book.PlacePng(std::string("\x89PNG", 4), 3, 1, 0, 0, 100, 100);
  }
  return 0;
}

}  // namespace office
