#pragma once
// What .docx and .xlsx share: parts parsed into pugixml documents and stored back, the package's
// content types and relationships, part-name arithmetic, namespace prefixes as a file binds them,
// and text made safe for XML.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

#include "platform/office/OfficeStatus.h"
#include "platform/office/ZipPackage.h"

namespace office::opc {

inline constexpr const char* kRelsNs = "http://schemas.openxmlformats.org/package/2006/relationships";
inline constexpr const char* kOfficeDocRel =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument";
inline constexpr const char* kImageRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/image";
inline constexpr const char* kDocRelsNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
inline constexpr const char* kDrawingMlNs = "http://schemas.openxmlformats.org/drawingml/2006/main";
inline constexpr const char* kPictureNs = "http://schemas.openxmlformats.org/drawingml/2006/picture";

// Parses a part; a missing or malformed part is Error::BrokenPart naming it.
Status ParseXml(const ZipPackage& pkg, std::string_view name, pugi::xml_document& doc);
// Serialises a document (with an XML declaration) into the package.
void StoreXml(ZipPackage& pkg, std::string_view name, const pugi::xml_document& doc);
// The same for XML held outside the package: `name` only names it in messages; a fragment holds
// any number of top-level nodes.
Status ParseXmlText(std::string_view bytes, std::string_view name, pugi::xml_document& doc, bool fragment = false);
std::string XmlText(const pugi::xml_document& doc);
// Parses a constant skeleton (programming error when malformed), or puts it into a package.
void LoadSkeleton(pugi::xml_document& doc, const char* xml);
void PutSkeleton(ZipPackage& pkg, std::string_view name, const char* xml);

// "word/document.xml" -> "word/_rels/document.xml.rels".
std::string RelsPartOf(std::string_view part);
// A relationship target resolved against its source part; empty when it leaves the package.
std::string ResolveTarget(std::string_view sourcePart, std::string_view target);
// The target that reaches `part` from `sourcePart` (relative, as office files write it).
std::string RelativeTarget(std::string_view sourcePart, std::string_view part);
// A part name not yet in the package: prefix + n + suffix with the smallest n >= 1.
std::string FreePartName(const ZipPackage& pkg, std::string_view prefix, std::string_view suffix);

// A stored picture's extension and content type, by its signature: JPEG, else PNG.
struct PictureType {
  const char* extension;
  const char* contentType;
};
inline PictureType PictureTypeOf(std::string_view bytes) {
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xFF\xD8\xFF") return {"jpeg", "image/jpeg"};
  return {"png", "image/png"};
}

// The relationships of one source part (an empty set when it has none).
class Relationships {
 public:
  Status Load(const ZipPackage& pkg, std::string_view sourcePart);
  // Target part of the first relationship of `type` / with `id`; empty when none.
  std::string TargetOfType(std::string_view type) const;
  std::string TargetOfId(std::string_view id) const;
  std::string TypeOfId(std::string_view id) const;
  // Adds an internal relationship to `part` and returns its new id.
  std::string Add(std::string_view type, std::string_view part);
  void RemoveType(std::string_view type);
  // Writes the set back (nothing when the part had none and none were added).
  void Store(ZipPackage& pkg) const;

 private:
  std::string source_;
  pugi::xml_document doc_;
};

// [Content_Types].xml.
class ContentTypes {
 public:
  Status Load(const ZipPackage& pkg);
  std::string TypeOf(std::string_view part) const;
  void SetOverride(std::string_view part, std::string_view type);
  void RemoveOverride(std::string_view part);
  void EnsureDefault(std::string_view extension, std::string_view type);
  void Store(ZipPackage& pkg) const;

 private:
  pugi::xml_document doc_;
};

// Finds the package's main part through its relationships and checks its content type: a
// template's type becomes the document's (what is made from a template is a document), any other
// than these two is Error::Unsupported.
Status FindMainPart(const ZipPackage& pkg, ContentTypes& types, std::string_view documentType,
                    std::string_view templateType, std::string* mainPart);

// The prefix an element's scope binds to `uri` ("" for the default namespace); `found` false when
// none does.
std::string PrefixOf(pugi::xml_node scope, std::string_view uri, bool* found);
// The prefix the root binds to `uri`, declaring `preferred` (or a free variant) when none does.
std::string EnsurePrefix(pugi::xml_node root, std::string_view uri, std::string_view preferred);
// prefix:local, or local alone for the default namespace.
std::string Qn(std::string_view prefix, std::string_view local);
// The child elements named `qname` (collected: pugixml's named ranges keep a pointer to the name).
std::vector<pugi::xml_node> Children(pugi::xml_node parent, const std::string& qname);
// The local part of an element name.
std::string_view LocalName(std::string_view qname);

// Text as XML 1.0 can carry it: invalid UTF-8 becomes U+FFFD, characters XML forbids are dropped.
std::string CleanText(std::string_view utf8);
// The first `maxChars` UTF-16 units' worth of whole characters.
std::string TruncateUtf16(std::string_view utf8, std::size_t maxUnits);

// The next unused numeric value of attribute `attr` over every element whose local name is
// `local` in the tree (drawing object ids must be unique in a part).
std::uint32_t NextId(const pugi::xml_node& root, std::string_view local, const char* attr);

}  // namespace office::opc
