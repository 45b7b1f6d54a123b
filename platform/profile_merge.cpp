// A section writer's entries merged into the file: into a section of the file in memory, or, when
// the commit is the file's first use, as the file is read, so that the lines replaced are never
// held. Keys are expected in the writer's order, so a section written before by the same code
// needs no lookup per key.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/profile_model.h"

template <class C>
class CProfileFile::Impl::Merger {
 public:
  // entries: lines in the buffers from `base` on, with the BatchHash of their keys; `repeated`:
  // whether a key occurs twice.
  Merger(Impl& f, const std::vector<Entry>& entries, const std::vector<std::uint32_t>& hashes, std::uint32_t base,
         bool repeated)
      : f_(f), e_(entries), h_(hashes), n_(entries.size()), base_(base) {
    while (cap_ < n_ + n_ / 2) cap_ *= 2;
    if (repeated) BuildTable();
    repeated_ = !last_.empty();
    matched_.assign(n_, 0);
  }

  // (the buffers of the entries keep their holes during the merge)
  View<C> Key(std::size_t i) const {
    return View<C>(f_.bufs[base_ + e_[i].buf].template Data<C>() + e_[i].held, e_[i].keyLen);
  }

  // A line that stays as it is (its text outlives the merge).
  void Keep(Span t) {
    if (t.len == 0) return;
    if (!out_.empty() && out_.back().buf == t.buf && out_.back().off + out_.back().len == t.off) {
      out_.back().len += t.len;  // adjacent text joins the last span
    } else {
      out_.push_back(t);
    }
  }

  // The line line[0, len) when it starts with the next expected key and '=': it is that key's
  // line (keys hold no '=', line break or outer blank) and is replaced by the new one.
  bool TakeExpected(const C* line, std::size_t len) {
    if (repeated_ || cursor_ >= n_ || matched_[cursor_]) return false;
    if (cursor_ + 8 < n_) __builtin_prefetch(Key(cursor_ + 8).data());
    const View<C> want = Key(cursor_);
    if (len <= want.size() || line[want.size()] != C('=') || !Same(View<C>(line, want.size()), want)) return false;
    matched_[cursor_] = 1;
    ++taken_;
    Keep(LineOf(cursor_++));
    KeyLineDone();
    return true;
  }

  // A live key line met otherwise: true when it is replaced.
  bool Take(View<C> key) {
    std::size_t f = kNone;
    if (!repeated_ && cursor_ < n_ && !matched_[cursor_] && Same(key, Key(cursor_))) {
      f = cursor_;
    } else {
      if (table_.empty()) BuildTable();
      const std::size_t slot = Probe(BatchHash(key), key);
      if (table_[slot] && !matched_[table_[slot] - 1]) f = table_[slot] - 1;
    }
    if (f == kNone) return false;
    matched_[f] = 1;
    ++taken_;
    cursor_ = f + 1;
    const std::size_t src = Final(f);
    if (Same(key, Key(src))) {
      Keep(LineOf(src));
    } else {  // replaced in the spelling of the file
      Keep(Respelled(key, src));
    }
    return true;
  }

  void KeyLineDone() {
    anchored_ = !out_.empty();
    anchorSpan_ = out_.size();
    anchorLen_ = anchored_ ? out_.back().len : 0;
  }

  bool Ok() const { return ok_; }

  // The section's lines with the keys it lacked after its last key line.
  std::vector<Span> Finish() {
    std::vector<Span> added;
    if (taken_ == n_) return std::move(out_);
    for (std::size_t i = 0; i < n_; ++i) {
      if (matched_[i] || (repeated_ && repeat_[i])) continue;
      // a repeated key keeps the spelling it was first written in
      const Span t = Final(i) == i || Same(Key(i), Key(Final(i))) ? LineOf(Final(i)) : Respelled(Key(i), Final(i));
      if (!added.empty() && added.back().buf == t.buf && added.back().off + added.back().len == t.off) {
        added.back().len += t.len;
      } else {
        added.push_back(t);
      }
    }
    if (added.empty()) return std::move(out_);
    std::size_t at = 0;
    if (anchored_) {
      Span& a = out_[anchorSpan_ - 1];
      at = anchorSpan_;
      if (a.len > anchorLen_) {  // lines that followed the last key line joined its span
        const Span rest{a.buf, a.off + std::uint32_t(anchorLen_), a.len - std::uint32_t(anchorLen_)};
        a.len = std::uint32_t(anchorLen_);
        out_.insert(out_.begin() + std::ptrdiff_t(at), rest);
      }
    }
    out_.insert(out_.begin() + std::ptrdiff_t(at), added.begin(), added.end());
    return std::move(out_);
  }

 private:
  Span LineOf(std::size_t i) const { return Span{base_ + e_[i].buf, e_[i].off, e_[i].len}; }

  // The line of entry src with its key spelt as `key`.
  Span Respelled(View<C> key, std::size_t src) {
    const Entry& e = e_[src];
    std::vector<C> value(e.len - e.keyLen);  // "=value\r\n"
    f_.TextAt<C>(base_ + e.buf, e.off + e.keyLen, value.size(), value.data());
    Span t;
    ok_ = f_.Append<C>({f_.ToWide(key), f_.ToWide(View<C>(value.data(), value.size()))}, t) && ok_;
    return t;
  }
  std::size_t Final(std::size_t f) const { return repeated_ ? std::size_t(last_[f]) : f; }

  // The slot of key, or the empty slot ending the probe.
  template <class K>
  std::size_t Probe(std::uint32_t h, K key) const {
    const std::size_t mask = cap_ - 1;
    std::size_t s = h & mask;
    for (; table_[s]; s = (s + 1) & mask) {
      const std::uint32_t j = table_[s] - 1;
      if (h_[j] == h && EqualNoCase(Key(j), key)) break;
    }
    return s;
  }

  // The table of all keys, built only when needed: when a key repeats or the section holds
  // keys out of order. Notes the first and last occurrence of each repeated key.
  void BuildTable() {
    const std::size_t mask = cap_ - 1;
    table_.assign(cap_, 0);
    for (std::size_t i = 0; i < n_; ++i) {
      if (i + 16 < n_) __builtin_prefetch(&table_[h_[i + 16] & mask]);  // the slots are far apart
      const std::size_t s = Probe(h_[i], Key(i));
      if (!table_[s]) {
        table_[s] = std::uint32_t(i + 1);
        continue;
      }
      if (last_.empty()) {
        last_.resize(n_);
        for (std::size_t j = 0; j < n_; ++j) last_[j] = std::uint32_t(j);
        repeat_.assign(n_, 0);
      }
      last_[table_[s] - 1] = std::uint32_t(i);
      repeat_[i] = 1;
    }
  }

  Impl& f_;
  const std::vector<Entry>& e_;
  const std::vector<std::uint32_t>& h_;
  const std::size_t n_;
  const std::uint32_t base_;
  std::size_t cap_ = 16;
  std::vector<std::uint32_t> table_;
  std::vector<std::uint32_t> last_;   // first occurrence -> last occurrence, when repeated
  std::vector<std::uint8_t> repeat_;  // later occurrences
  std::vector<std::uint8_t> matched_;
  bool repeated_ = false;
  std::size_t cursor_ = 0, taken_ = 0;  // entries placed on lines of the section
  std::vector<Span> out_;
  std::size_t anchorSpan_ = 0, anchorLen_ = 0;  // new keys go here: after the last key line
  bool anchored_ = false;
  bool ok_ = true;
};

template <class C>
auto CProfileFile::Impl::Merge(WStringView section, const std::vector<Entry>& entries,
                               const std::vector<std::uint32_t>& hashes, std::uint32_t base, bool repeated) -> bool {
  std::uint32_t sec = FindSection(section);
  if (sec == kNone && (sec = NewSection<C>(section)) == kNone) return false;
  Section& s = sections[sec];
  if (!s.parsed || !s.parsed->modified) FlattenSection(s);
  Merger<C> m(*this, entries, hashes, base, repeated);
  if (s.parsed && s.parsed->modified) {
    ForEachLine<C>(s, s.parsed.get(), [&](const LineRef<C>& l) {
      if (l.eq == View<C>::npos) {
        if (!l.dead) m.Keep(l.text);
        return;
      }
      if (!l.dead && !m.Take(l.Key())) m.Keep(l.text);  // a deleted key is written anew
      m.KeyLineDone();
    });
  } else {
    for (const Span& span : s.body) {
      const C* t = bufs[span.buf].Data<C>();
      const std::size_t end = span.off + span.len;
      for (std::size_t pos = span.off; pos < end;) {
        const std::size_t next = LineEnd(t, pos, end);
        if (!m.TakeExpected(t + pos, next - pos)) MergeLine(m, MakeLine(t, span.buf, pos, next));
        pos = next;
      }
    }
  }
  if (!m.Ok()) return false;
  s.body = m.Finish();
  s.parsed.reset();
  return true;
}

auto CProfileFile::Impl::StreamMerge(WStringView section, const std::vector<Entry>& entries,
                                     const std::vector<std::uint32_t>& hashes, std::uint32_t base, bool repeated)
    -> Streamed {
  if (!CurrentCodePage().asciiSafe) return Streamed::kNot;
  const int fd = Open();
  if (fd < 0) {
    unread = false;
    return Streamed::kNot;  // nothing to read
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || std::uint64_t(st.st_size) >= kMaxUnits) {
    unread = false;
    loadFailed = true;
    return Streamed::kNot;
  }
  const auto size = std::size_t(st.st_size);
  const auto keptId = std::uint32_t(bufs.size());
  bufs.push_back(Buf::Make<char>(size));  // what stays of the file, in file order
  char* const kept = bufs[keptId].Data<char>();
  std::size_t keptSize = 0;
  auto keep = [&](const char* p, std::size_t len) {
    std::memcpy(kept + keptSize, p, len);
    keptSize += len;
    return Span{keptId, std::uint32_t(keptSize - len), std::uint32_t(len)};
  };
  auto undo = [&] {
    bufs.resize(keptId);
    if (scratch != kNone && scratch >= keptId) scratch = kNone;
    sections.clear();
    sections.emplace_back();
    sectionByName.clear();
  };

  Merger<char> m(*this, entries, hashes, base, repeated);
  const WStringView wanted = Trim(section);
  std::uint32_t target = kNone;
  bool inTarget = false;
  std::size_t bodyStart = 0;
  auto onLine = [&](const char* p, std::size_t len) {
    std::size_t i = 0;
    while (i < len && IsBlank(p[i])) ++i;
    if (i < len && p[i] == '[') {
      if (!inTarget) AddBody(sections.back(), bodyStart, keptSize, keptId);
      Section h;
      h.header = keep(p, len);
      const View<char> name = HeaderName(View<char>(p + i, len - i));
      const auto idx = std::uint32_t(sections.size());
      AddSectionName(name, idx);
      inTarget = target == kNone && EqualNoCase(name, wanted);
      if (inTarget) target = idx;
      sections.push_back(std::move(h));
      bodyStart = keptSize;
    } else if (!inTarget) {
      keep(p, len);
    } else if (!m.TakeExpected(p, len)) {
      const LineRef<char> l = MakeLine(p, 0, 0, len);
      if (l.eq == View<char>::npos) {
        m.Keep(keep(p, len));
      } else {
        if (!m.Take(l.Key())) m.Keep(keep(p, len));
        m.KeyLineDone();
      }
    }
  };

  std::size_t cap = std::size_t(1) << 20, have = 0, start = 0, total = 0;
  Mem piece = NewMem(cap);
  auto text = [&] { return reinterpret_cast<char*>(piece.get()); };
  for (;;) {
    if (start > 0) {  // keep the unfinished line
      std::memmove(text(), text() + start, have - start);
      have -= start;
      start = 0;
    }
    if (have == cap) {  // a line longer than the piece
      Mem larger = NewMem(2 * cap);
      std::memcpy(reinterpret_cast<char*>(larger.get()), text(), have);
      piece = std::move(larger);
      cap *= 2;
    }
    const ssize_t r = ::read(fd, text() + have, std::min(cap - have, size - total));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      undo();
      unread = false;
      loadFailed = true;
      return Streamed::kNot;
    }
    bool loneCr = r > 0 && have > 0 && text()[have - 1] == '\r' && text()[have] != '\n';  // across pieces
    if (!AsciiScan(text() + have, std::size_t(r), loneCr)) {
      undo();
      return Streamed::kNot;  // read whole, in the code page
    }
    if (loneCr) {
      undo();
      return Streamed::kNot;  // read whole, with its line ends made CR LF
    }
    have += std::size_t(r);
    total += std::size_t(r);
    const bool end = r == 0 || total == size;
    for (;;) {
      const std::size_t next = LineEnd(text(), start, have);
      if (next == have && (next == start || text()[next - 1] != '\n')) break;
      onLine(text() + start, next - start);
      start = next;
    }
    if (end) {
      if (start < have) onLine(text() + start, have - start);
      break;
    }
  }
  if (!inTarget) AddBody(sections.back(), bodyStart, keptSize, keptId);
  bufs[keptId].size = bufs[keptId].held = keptSize;
  unread = false;
  if (target == kNone && (target = NewSection<char>(section)) == kNone) return Streamed::kFailed;
  sections[target].body = m.Finish();
  sections[target].parsed.reset();
  return m.Ok() ? Streamed::kDone : Streamed::kFailed;
}

template <class C>
auto CProfileFile::Impl::MergeLine(Merger<C>& m, const LineRef<C>& l) -> void {
  if (l.eq == View<C>::npos) {
    m.Keep(l.text);
    return;
  }
  if (!m.Take(l.Key())) m.Keep(l.text);
  m.KeyLineDone();
}

template bool CProfileFile::Impl::Merge<char>(WStringView, const std::vector<Entry>&, const std::vector<std::uint32_t>&,
                                              std::uint32_t, bool);
template bool CProfileFile::Impl::Merge<char16_t>(WStringView, const std::vector<Entry>&,
                                                  const std::vector<std::uint32_t>&, std::uint32_t, bool);
