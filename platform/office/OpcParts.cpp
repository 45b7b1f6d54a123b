// Parts, relationships, content types, part names, namespaces and drawing ids of office packages.
#include "platform/office/OpcParts.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace office::opc {

namespace {

constexpr unsigned kParseFlags =
    pugi::parse_default | pugi::parse_declaration | pugi::parse_pi | pugi::parse_comments | pugi::parse_ws_pcdata;

struct StringWriter : pugi::xml_writer {
  std::string out;
  void write(const void* data, size_t size) override { out.append(static_cast<const char*>(data), size); }
};

std::vector<std::string> SplitPath(std::string_view path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t slash = path.find('/', start);
    const std::size_t end = slash == std::string_view::npos ? path.size() : slash;
    if (end > start) parts.emplace_back(path.substr(start, end - start));
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  return parts;
}

std::string_view DirOf(std::string_view part) {
  const std::size_t slash = part.rfind('/');
  return slash == std::string_view::npos ? std::string_view() : part.substr(0, slash);
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

// "/name": how content types name a part.
std::string PartUri(std::string_view part) {
  std::string uri;
  uri.reserve(part.size() + 1);
  uri.push_back('/');
  uri.append(part);
  return uri;
}

}  // namespace

Status ParseXml(const ZipPackage& pkg, std::string_view name, pugi::xml_document& doc) {
  const std::string* data = pkg.Find(name);
  if (!data) return Status::Fail(Error::BrokenPart, "the part " + std::string(name) + " is missing");
  return ParseXmlText(*data, name, doc);
}

Status ParseXmlText(std::string_view bytes, std::string_view name, pugi::xml_document& doc, bool fragment) {
  const unsigned flags = kParseFlags | (fragment ? pugi::parse_fragment : 0u);
  const pugi::xml_parse_result r = doc.load_buffer(bytes.data(), bytes.size(), flags, pugi::encoding_auto);
  if (!r || (!fragment && !doc.document_element()))
    return Status::Fail(Error::BrokenPart, "the part " + std::string(name) + " is not well-formed XML (" +
                                               r.description() + " at " + std::to_string(r.offset) + ")");
  return Status::Ok();
}

std::string XmlText(const pugi::xml_document& doc) {
  // One declaration of our own, always UTF-8 since that is what is written; the file's own is
  // left out rather than repeated.
  StringWriter w;
  w.out = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
  for (pugi::xml_node n : doc.children())
    if (n.type() != pugi::node_declaration) n.print(w, "", pugi::format_raw, pugi::encoding_utf8);
  return std::move(w.out);
}

void StoreXml(ZipPackage& pkg, std::string_view name, const pugi::xml_document& doc) { pkg.Put(name, XmlText(doc)); }

void LoadSkeleton(pugi::xml_document& doc, const char* xml) {
  const pugi::xml_parse_result r = doc.load_string(xml, kParseFlags);
  if (!r) std::abort();
}

void PutSkeleton(ZipPackage& pkg, std::string_view name, const char* xml) {
  pugi::xml_document doc;
  LoadSkeleton(doc, xml);
  StoreXml(pkg, name, doc);
}

std::string RelsPartOf(std::string_view part) {
  const std::string_view dir = DirOf(part);
  const std::string_view file = part.substr(dir.empty() ? 0 : dir.size() + 1);
  return (dir.empty() ? std::string() : std::string(dir) + "/") + "_rels/" + std::string(file) + ".rels";
}

std::string ResolveTarget(std::string_view sourcePart, std::string_view target) {
  std::vector<std::string> stack;
  if (target.empty()) return {};
  if (target.front() != '/') stack = SplitPath(DirOf(sourcePart));
  for (const std::string& seg : SplitPath(target)) {
    if (seg == ".") continue;
    if (seg == "..") {
      if (stack.empty()) return {};
      stack.pop_back();
      continue;
    }
    stack.push_back(seg);
  }
  std::string out;
  for (const std::string& seg : stack) out += (out.empty() ? "" : "/") + seg;
  return out;
}

std::string RelativeTarget(std::string_view sourcePart, std::string_view part) {
  const std::vector<std::string> from = SplitPath(DirOf(sourcePart));
  const std::vector<std::string> to = SplitPath(part);
  std::size_t common = 0;
  while (common < from.size() && common + 1 < to.size() && from[common] == to[common]) ++common;
  std::string out;
  for (std::size_t i = common; i < from.size(); ++i) out += "../";
  for (std::size_t i = common; i < to.size(); ++i) out += to[i] + (i + 1 < to.size() ? "/" : "");
  return out;
}

std::string FreePartName(const ZipPackage& pkg, std::string_view prefix, std::string_view suffix) {
  std::vector<std::string> names = pkg.Names();
  for (std::string& n : names) n = Lower(n);
  for (int n = 1;; ++n) {
    std::string name = std::string(prefix) + std::to_string(n) + std::string(suffix);
    if (std::find(names.begin(), names.end(), Lower(name)) == names.end()) return name;
  }
}

// ---- relationships

Status Relationships::Load(const ZipPackage& pkg, std::string_view sourcePart) {
  source_ = sourcePart;
  const std::string name = RelsPartOf(sourcePart);
  if (!pkg.Has(name)) {
    doc_.reset();
    pugi::xml_node root = doc_.append_child("Relationships");
    root.append_attribute("xmlns") = kRelsNs;
    return Status::Ok();
  }
  return ParseXml(pkg, name, doc_);
}

std::string Relationships::TargetOfType(std::string_view type) const {
  for (pugi::xml_node r : doc_.document_element().children("Relationship"))
    if (type == r.attribute("Type").value() && std::string_view(r.attribute("TargetMode").value()) != "External")
      return ResolveTarget(source_, r.attribute("Target").value());
  return {};
}

std::string Relationships::TargetOfId(std::string_view id) const {
  for (pugi::xml_node r : doc_.document_element().children("Relationship"))
    if (id == r.attribute("Id").value() && std::string_view(r.attribute("TargetMode").value()) != "External")
      return ResolveTarget(source_, r.attribute("Target").value());
  return {};
}

std::string Relationships::TypeOfId(std::string_view id) const {
  for (pugi::xml_node r : doc_.document_element().children("Relationship"))
    if (id == r.attribute("Id").value()) return r.attribute("Type").value();
  return {};
}

std::string Relationships::Add(std::string_view type, std::string_view part) {
  pugi::xml_node root = doc_.document_element();
  std::string id;
  for (int n = 1;; ++n) {
    id = "rIdQ7v" + std::to_string(n);
    if (!root.find_child_by_attribute("Relationship", "Id", id.c_str())) break;
  }
  pugi::xml_node r = root.append_child("Relationship");
  r.append_attribute("Id") = id.c_str();
  r.append_attribute("Type") = std::string(type).c_str();
  r.append_attribute("Target") = RelativeTarget(source_, part).c_str();
  return id;
}

void Relationships::RemoveType(std::string_view type) {
  pugi::xml_node root = doc_.document_element();
  for (pugi::xml_node r = root.first_child(); r;) {
    pugi::xml_node next = r.next_sibling();
    if (type == r.attribute("Type").value()) root.remove_child(r);
    r = next;
  }
}

void Relationships::Store(ZipPackage& pkg) const {
  const std::string name = RelsPartOf(source_);
  if (pkg.Has(name) || doc_.document_element().child("Relationship")) StoreXml(pkg, name, doc_);
}

// ---- content types

Status ContentTypes::Load(const ZipPackage& pkg) {
  Status s = ParseXml(pkg, "[Content_Types].xml", doc_);
  if (s.ok() && std::string_view(doc_.document_element().name()) != "Types")
    return Status::Fail(Error::BrokenPart, "the content types are not a Types list");
  return s;
}

std::string ContentTypes::TypeOf(std::string_view part) const {
  const std::string wanted = PartUri(Lower(part));
  for (pugi::xml_node o : doc_.document_element().children("Override"))
    if (Lower(o.attribute("PartName").value()) == wanted) return o.attribute("ContentType").value();
  const std::size_t dot = part.rfind('.');
  const std::string ext = dot == std::string_view::npos ? std::string() : Lower(part.substr(dot + 1));
  for (pugi::xml_node d : doc_.document_element().children("Default"))
    if (Lower(d.attribute("Extension").value()) == ext) return d.attribute("ContentType").value();
  return {};
}

void ContentTypes::SetOverride(std::string_view part, std::string_view type) {
  RemoveOverride(part);
  pugi::xml_node o = doc_.document_element().append_child("Override");
  o.append_attribute("PartName") = PartUri(part).c_str();
  o.append_attribute("ContentType") = std::string(type).c_str();
}

void ContentTypes::RemoveOverride(std::string_view part) {
  const std::string wanted = PartUri(Lower(part));
  pugi::xml_node root = doc_.document_element();
  for (pugi::xml_node o = root.child("Override"); o;) {
    pugi::xml_node next = o.next_sibling("Override");
    if (Lower(o.attribute("PartName").value()) == wanted) root.remove_child(o);
    o = next;
  }
}

void ContentTypes::EnsureDefault(std::string_view extension, std::string_view type) {
  pugi::xml_node root = doc_.document_element();
  for (pugi::xml_node d : root.children("Default"))
    if (Lower(d.attribute("Extension").value()) == Lower(extension)) return;
  // Defaults come before overrides in the files office programs write.
  pugi::xml_node d = root.first_child() ? root.insert_child_before("Default", root.first_child()) : root.append_child("Default");
  d.append_attribute("Extension") = std::string(extension).c_str();
  d.append_attribute("ContentType") = std::string(type).c_str();
}

void ContentTypes::Store(ZipPackage& pkg) const { StoreXml(pkg, "[Content_Types].xml", doc_); }

Status FindMainPart(const ZipPackage& pkg, ContentTypes& types, std::string_view documentType,
                    std::string_view templateType, std::string* mainPart) {
  if (Status s = types.Load(pkg); !s.ok()) return s;
  Relationships root;
  if (Status s = root.Load(pkg, ""); !s.ok()) return s;
  *mainPart = root.TargetOfType(kOfficeDocRel);
  if (mainPart->empty()) return Status::Fail(Error::BrokenPart, "the package names no main part");
  const std::string type = types.TypeOf(*mainPart);
  if (type == templateType) types.SetOverride(*mainPart, documentType);
  else if (type != documentType) return Status::Fail(Error::Unsupported, "a package of another kind (" + type + ")");
  return Status::Ok();
}

// ---- namespaces

std::string PrefixOf(pugi::xml_node scope, std::string_view uri, bool* found) {
  for (pugi::xml_node n = scope; n && n.type() == pugi::node_element; n = n.parent()) {
    for (pugi::xml_attribute a : n.attributes()) {
      const std::string_view name = a.name();
      if (uri != a.value()) continue;
      if (name == "xmlns") {
        *found = true;
        return {};
      }
      if (name.substr(0, 6) == "xmlns:") {
        *found = true;
        return std::string(name.substr(6));
      }
    }
  }
  *found = false;
  return {};
}

std::string EnsurePrefix(pugi::xml_node root, std::string_view uri, std::string_view preferred) {
  bool found = false;
  std::string prefix = PrefixOf(root, uri, &found);
  if (found && !prefix.empty()) return prefix;
  prefix = std::string(preferred);
  for (int n = 2; root.attribute(("xmlns:" + prefix).c_str()); ++n) prefix = std::string(preferred) + std::to_string(n);
  root.append_attribute(("xmlns:" + prefix).c_str()) = std::string(uri).c_str();
  return prefix;
}

std::string Qn(std::string_view prefix, std::string_view local) {
  return prefix.empty() ? std::string(local) : std::string(prefix) + ":" + std::string(local);
}

std::vector<pugi::xml_node> Children(pugi::xml_node parent, const std::string& qname) {
  std::vector<pugi::xml_node> out;
  for (pugi::xml_node c = parent.child(qname.c_str()); c; c = c.next_sibling(qname.c_str())) out.push_back(c);
  return out;
}

std::string_view LocalName(std::string_view qname) {
  const std::size_t colon = qname.find(':');
  return colon == std::string_view::npos ? qname : qname.substr(colon + 1);
}

std::uint32_t NextId(const pugi::xml_node& root, std::string_view local, const char* attr) {
  std::uint32_t maxId = 0;
  // Iterative walk: a template's nesting depth is the user's, not ours to recurse on.
  pugi::xml_node n = root;
  while (n) {
    if (n.type() == pugi::node_element && LocalName(n.name()) == local)
      maxId = std::max(maxId, std::uint32_t(std::strtoul(n.attribute(attr).value(), nullptr, 10) & 0x7FFFFFFF));
    if (n.first_child()) {
      n = n.first_child();
      continue;
    }
    while (n && n != root && !n.next_sibling()) n = n.parent();
    if (!n || n == root) break;
    n = n.next_sibling();
  }
  return maxId + 1;
}

}  // namespace office::opc
