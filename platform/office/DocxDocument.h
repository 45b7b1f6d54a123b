#pragma once
// A .docx document built paragraph by paragraph at the end of its body: text runs with bold and
// size, bordered tables, inline PNG pictures. It starts blank (A4) or from a .docx/.dotx template
// whose content, styles, headers, footers and sections stay; the report goes after the template's
// content, before its final section properties.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/office/OfficeStatus.h"
#include "platform/office/ZipPackage.h"

namespace office {

enum class HAlign { Left, Center, Right };

// One run of text (UTF-8); unset fields follow the paragraph's style. Tabs and line feeds in the
// text become tabs and line breaks.
struct DocxRun {
  std::string text;
  std::optional<bool> bold = std::nullopt;
  std::optional<double> sizePt = std::nullopt;
};

// A picture stored in the document, with the size it is shown at (EMU).
struct DocxPicture {
  std::string relId;
  std::int64_t cx = 0, cy = 0;
};

class DocxDocument {
 public:
  DocxDocument();  // a blank A4 document
  ~DocxDocument();
  DocxDocument(const DocxDocument&) = delete;
  DocxDocument& operator=(const DocxDocument&) = delete;

  // Replaces the document by a template's content. On failure the document is blank again.
  Status LoadTemplate(const std::filesystem::path& file, const PackageLimits& limits = {});
  Status LoadTemplateBytes(std::string_view bytes, const PackageLimits& limits = {});

  // Whether the body ends with a paragraph (typing would continue in it).
  bool EndsWithParagraph() const;
  // The text area of the last section (page less margins), in EMU.
  std::int64_t TextWidthEmu() const;
  std::int64_t TextHeightEmu() const;

  // Appends a paragraph with these runs, and the picture (inline, after the runs) when given.
  void AddParagraph(HAlign align, const std::vector<DocxRun>& runs, const DocxPicture* picture = nullptr);
  // Appends a table of cells.size() rows of equal-width columns spanning the text width, with
  // single-line borders around and between the cells; each cell one paragraph of `format`.
  void AddTable(const std::vector<std::vector<std::string>>& cells, HAlign cellAlign, const DocxRun& format);
  // Stores a PNG or JPEG picture (told apart by its signature); it is shown at its size at 96 dpi, scaled down to fit
  // the text area, and to `maxHeightEmu` when that is given (> 0).
  DocxPicture AddPng(std::string png, int widthPx, int heightPx, std::int64_t maxHeightEmu = 0);

  Status Save(const std::filesystem::path& file, bool exclusive);

 private:
  struct Impl;
  void InitBlank();
  Status Attach();
  std::unique_ptr<Impl> d_;
};

}  // namespace office
