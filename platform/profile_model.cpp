// The lines of a profile file: sections parsed into lines with a key table on first use,
// lookups, single-key writes and deletions; and the calls of CProfileFile and the one-shot
// wrappers with the platform's names.
#include "platform/profile_model.h"

auto CProfileFile::Impl::EnsureParsed(std::uint32_t sec) -> Parsed& {
  std::lock_guard lock(parseMutex);
  Section& s = sections[sec];
  if (!s.parsed) {
    FlattenSection(s);
    Dispatch([&](auto tag) { s.parsed = Parse<decltype(tag)>(s); });
  }
  return *s.parsed;
}

template <class C>
auto CProfileFile::Impl::Parse(const Section& s) -> std::unique_ptr<Parsed> {
  auto p = std::make_unique<Parsed>();
  ForEachLine<C>(s, nullptr, [&](const LineRef<C>& l) {
    Line line;
    line.text = l.text;
    line.len = std::uint32_t(l.content.size());
    if (l.eq != View<C>::npos) {
      line.kind = kKey;
      line.eq = std::uint32_t(l.eq);
      line.hash = KeyHash(l.Key());
      p->anchor = std::uint32_t(p->lines.size());
    }
    p->lines.push_back(line);
  });
  p->orig = std::uint32_t(p->lines.size());
  Reserve(*p, p->lines.size());
  const std::size_t mask = p->table.size() - 1;
  for (std::uint32_t i = 0; i < p->orig; ++i) {
    // indexing is bound by cache misses in the table: fetch the slots a few lines ahead
    if (i + 16 < p->orig) __builtin_prefetch(&p->table[p->lines[i + 16].hash & mask]);
    if (p->lines[i].kind == kKey) Index<C>(*p, i);
  }
  return p;
}

auto CProfileFile::Impl::Value(WStringView section, WStringView key) -> std::optional<ProfileText> {
  const std::uint32_t sec = FindSection(section);
  if (sec == kNone) return std::nullopt;
  const Parsed& p = EnsureParsed(sec);
  return Dispatch([&](auto tag) -> std::optional<ProfileText> {
    using C = decltype(tag);
    const std::uint32_t idx = FindKey<C>(p, key);
    if (idx == kNone) return std::nullopt;
    const Line& l = p.lines[idx];
    return ProfileText(Unquote(Trim(Text<C>(l.text).substr(l.eq + 1, l.len - l.eq - 1))));
  });
}

auto CProfileFile::Impl::ReadSection(WStringView section, bool (*fn)(void*, const ProfileEntry&), void* ctx) -> void {
  const std::uint32_t sec = FindSection(section);
  if (sec == kNone) return;
  const Parsed* p;
  {
    std::lock_guard lock(parseMutex);
    p = sections[sec].parsed.get();
    if (!p || !p->modified) FlattenSection(sections[sec]);
  }
  Dispatch([&](auto tag) {
    using C = decltype(tag);
    bool more = true;
    ForEachLine<C>(sections[sec], p, [&](const LineRef<C>& l) {
      if (!more || l.dead || l.eq == View<C>::npos) return;
      const View<C> key = l.Key();
      if (key.front() == C(';')) return;  // a comment, though a plain read finds it
      more = fn(ctx, ProfileEntry{ProfileText(key), ProfileText(l.Value())});
    });
  });
}

auto CProfileFile::Impl::MakeWide() -> void {
  if (wide) return;
  for (std::uint32_t i = 0; i < bufs.size(); ++i) Flatten<char>(i);
  for (Buf& b : bufs) {
    Buf w = Buf::Make<char16_t>(b.cap);
    Widen(b.Data<char>(), b.size, w.Data<char16_t>());
    w.size = w.held = b.size;
    b = std::move(w);
  }
  wide = true;
}

template <class C>
auto CProfileFile::Impl::Flatten(std::uint32_t id) -> void {
  Buf& b = bufs[id];
  if (b.holes.empty()) return;
  Buf f = Buf::Make<C>(b.size);
  TextAt<C>(id, 0, b.size, f.Data<C>());
  f.size = f.held = b.size;
  b = std::move(f);
}

auto CProfileFile::Impl::FlattenSection(const Section& s) -> void {
  for (const Span& t : s.body)
    if (!bufs[t.buf].holes.empty()) Dispatch([&](auto tag) { Flatten<decltype(tag)>(t.buf); });
}

template <class C>
auto CProfileFile::Impl::Append(std::initializer_list<WStringView> parts, Span& out) -> bool {
  std::size_t units = 0;
  for (WStringView s : parts) units += s.size();
  if (units > kMaxUnits) return false;
  if (scratch == kNone || bufs[scratch].held + units > bufs[scratch].cap) {
    scratch = std::uint32_t(bufs.size());
    bufs.push_back(Buf::Make<C>(std::max<std::size_t>(units, 1 << 16)));
  }
  Buf& b = bufs[scratch];
  out = Span{scratch, std::uint32_t(b.size), std::uint32_t(units)};
  C* dst = b.Data<C>() + b.size;
  for (WStringView s : parts) {
    if constexpr (sizeof(C) == 1) {
      Narrow(s.data(), s.size(), dst);
    } else {
      std::memcpy(dst, s.data(), s.size() * 2);
    }
    dst += s.size();
  }
  b.size += units;
  b.held += units;
  return true;
}

template <class C>
auto CProfileFile::Impl::NewSection(WStringView name) -> std::uint32_t {
  Section s;
  if (!Append<C>({u"[", name, u"]\r\n"}, s.header)) return kNone;
  s.parsed = std::make_unique<Parsed>();
  s.parsed->modified = true;
  const auto sec = std::uint32_t(sections.size());
  sections.push_back(std::move(s));
  sectionByName.emplace(WString(name), sec);
  return sec;
}

auto CProfileFile::Impl::Write(WStringView section, WStringView key, WStringView value) -> bool {
  section = Trim(section);
  key = Trim(key);
  if (!ValidNames(section, key) || HasLineBreak(value)) return false;
  if (!wide && !(AllAscii(section) && AllAscii(key) && AllAscii(value))) MakeWide();
  return Dispatch([&](auto tag) { return WriteKey<decltype(tag)>(section, key, value); });
}

template <class C>
auto CProfileFile::Impl::WriteKey(WStringView section, WStringView key, WStringView value) -> bool {
  std::uint32_t sec = FindSection(section);
  if (sec == kNone && (sec = NewSection<C>(section)) == kNone) return false;
  Parsed& p = EnsureParsed(sec);
  Reserve(p, p.used + 1);
  const std::uint32_t h = KeyHash(key);
  Slot& slot = p.table[Probe<C>(p, h, key)];
  Line l;
  if (slot.line) {
    // replaced where it stands, keeping the key as the file spells it
    Line& old = p.lines[slot.line - 1];
    const WString spelled = ToWide(KeyOf<C>(old));
    if (!Append<C>({spelled, u"=", value, u"\r\n"}, l.text)) return false;
    old.text = l.text;
    old.len = l.text.len - 2;
    old.eq = std::uint32_t(spelled.size());
    p.modified = true;
    return true;
  }
  if (!Append<C>({key, u"=", value, u"\r\n"}, l.text)) return false;
  l.kind = kKey;
  l.hash = h;
  l.len = l.text.len - 2;
  l.eq = std::uint32_t(key.size());
  const auto idx = std::uint32_t(p.lines.size());
  p.lines.push_back(l);
  p.modified = true;
  slot = Slot{h, idx + 1};
  ++p.used;
  return true;
}

auto CProfileFile::Impl::DeleteKey(WStringView section, WStringView key) -> void {
  const std::uint32_t sec = FindSection(section);
  if (sec == kNone) return;
  Parsed& p = EnsureParsed(sec);
  const std::uint32_t idx = Dispatch([&](auto tag) { return FindKey<decltype(tag)>(p, key); });
  if (idx == kNone) return;
  p.lines[idx].dead = true;
  p.modified = true;
  // A later line of the same key is the one found from now on, as in the text of the file.
  const auto added = std::uint32_t(p.lines.size() - p.orig);
  auto order = [&](std::uint32_t i) -> std::uint64_t {  // position in the section as written out
    const std::uint64_t after = p.anchor == kNone ? 0 : std::uint64_t(p.anchor) + 1;
    if (i >= p.orig) return after + (i - p.orig);
    return i < after ? i : std::uint64_t(i) + added;
  };
  Dispatch([&](auto tag) {
    using C = decltype(tag);
    const View<C> key = KeyOf<C>(p.lines[idx]);
    std::uint32_t next = kNone;
    for (std::uint32_t i = 0; i < p.lines.size(); ++i) {
      const Line& l = p.lines[i];
      if (l.kind == kKey && !l.dead && l.hash == p.lines[idx].hash && EqualNoCase(KeyOf<C>(l), key) &&
          (next == kNone || order(i) < order(next)))
        next = i;
    }
    if (next != kNone) Index<C>(p, next);
  });
}

auto CProfileFile::Impl::DeleteSection(WStringView section) -> void {
  const std::uint32_t first = FindSection(section);
  if (first == kNone) return;
  const WStringView name = Trim(section);
  for (std::uint32_t sec = first; sec < sections.size(); ++sec) {
    Section& s = sections[sec];
    if (s.dead || s.header.len == 0) continue;
    const bool match = Dispatch([&](auto tag) {
      using C = decltype(tag);
      const View<C> line = Text<C>(s.header);
      std::size_t i = 0;
      while (i < line.size() && IsBlank(line[i])) ++i;
      return i < line.size() && line[i] == C('[') && EqualNoCase(HeaderName(line.substr(i)), name);
    });
    if (match) s.dead = true;
  }
  sectionByName.erase(sectionByName.find(name));
}

template bool CProfileFile::Impl::Append<char>(std::initializer_list<WStringView>, Span&);
template bool CProfileFile::Impl::Append<char16_t>(std::initializer_list<WStringView>, Span&);
template std::uint32_t CProfileFile::Impl::NewSection<char>(WStringView);
template std::uint32_t CProfileFile::Impl::NewSection<char16_t>(WStringView);

// ---- CProfileFile ---------------------------------------------------------------------------

CProfileFile::CProfileFile() : d_(std::make_unique<Impl>()) {}

CProfileFile::CProfileFile(const std::filesystem::path& path) : d_(std::make_unique<Impl>()) {
  d_->path = path;
  d_->unread = true;
}

CProfileFile::~CProfileFile() = default;
CProfileFile::CProfileFile(CProfileFile&&) noexcept = default;
CProfileFile& CProfileFile::operator=(CProfileFile&&) noexcept = default;

CProfileFile::Impl& CProfileFile::I() const {
  if (!d_) d_ = std::make_unique<Impl>();
  return *d_;
}

const std::filesystem::path& CProfileFile::Path() const { return I().path; }
CProfileFile::Encoding CProfileFile::GetEncoding() const { return Ready(I()).encoding; }
void CProfileFile::SetEncoding(Encoding e) { Ready(I()).encoding = e; }

WString CProfileFile::GetString(WStringView section, WStringView key, WStringView def) const {
  Impl& d = Ready(I());
  WString s, k;
  const std::optional<ProfileText> v = d.Value(d.FileName(section, s), d.FileName(key, k));
  if (v) return v->ToString();
  // The default comes back without its trailing blanks (its first character always stays).
  std::size_t n = def.size();
  while (n > 1 && def[n - 1] == u' ') --n;
  return WString(def.substr(0, n));
}

std::int32_t CProfileFile::GetInt(WStringView section, WStringView key, std::int32_t def) const {
  Impl& d = Ready(I());
  WString s, k;
  const std::optional<ProfileText> v = d.Value(d.FileName(section, s), d.FileName(key, k));
  return v ? ParseProfileInt(*v, def) : def;
}

bool CProfileFile::GetStruct(WStringView section, WStringView key, std::span<std::uint8_t> out) const {
  Impl& d = Ready(I());
  WString s, k;
  const std::optional<ProfileText> v = d.Value(d.FileName(section, s), d.FileName(key, k));
  return v && DecodeProfileStruct(*v, out);
}

bool CProfileFile::HasSection(WStringView section) const {
  Impl& d = Ready(I());
  WString s;
  return d.FindSection(d.FileName(section, s)) != kNone;
}

void CProfileFile::ReadSection(WStringView section, bool (*fn)(void*, const ProfileEntry&), void* ctx) const {
  Impl& d = Ready(I());
  WString s;
  d.ReadSection(d.FileName(section, s), fn, ctx);
}

bool CProfileFile::WriteString(WStringView section, WStringView key, WStringView value) {
  Impl& d = Ready(I());
  WString s, k;
  return d.Write(d.FileName(section, s), d.FileName(key, k), value);
}

bool CProfileFile::WriteStruct(WStringView section, WStringView key, std::span<const std::uint8_t> data) {
  Impl& d = Ready(I());
  WString s, k;
  return d.Write(d.FileName(section, s), d.FileName(key, k), EncodeProfileStruct(data));
}

void CProfileFile::DeleteKey(WStringView section, WStringView key) {
  Impl& d = Ready(I());
  WString s, k;
  d.DeleteKey(d.FileName(section, s), d.FileName(key, k));
}

void CProfileFile::DeleteSection(WStringView section) {
  Impl& d = Ready(I());
  WString s;
  d.DeleteSection(d.FileName(section, s));
}

// ---- one-shot wrappers ----------------------------------------------------------------------

WString GetPrivateProfileStringW(WStringView section, WStringView key, WStringView def,
                                 const std::filesystem::path& file) {
  return CProfileFile(file).GetString(section, key, def);
}

std::int32_t GetPrivateProfileIntW(WStringView section, WStringView key, std::int32_t def,
                                   const std::filesystem::path& file) {
  return CProfileFile(file).GetInt(section, key, def);
}

bool GetPrivateProfileStructW(WStringView section, WStringView key, void* data, std::size_t size,
                              const std::filesystem::path& file) {
  if (!data && size) return false;
  return CProfileFile(file).GetStruct(section, key, std::span(static_cast<std::uint8_t*>(data), size));
}

bool WritePrivateProfileStringW(WStringView section, WStringView key, WStringView value,
                                const std::filesystem::path& file) {
  CProfileFile f(file);
  return f.WriteString(section, key, value) && f.Save();
}

bool WritePrivateProfileStructW(WStringView section, WStringView key, const void* data, std::size_t size,
                                const std::filesystem::path& file) {
  if (!data && size) return false;
  CProfileFile f(file);
  return f.WriteStruct(section, key, std::span(static_cast<const std::uint8_t*>(data), size)) && f.Save();
}
