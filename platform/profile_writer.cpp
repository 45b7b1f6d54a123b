// The section writer: many keys of one section built as one block of text (large struct values
// kept as bytes until the file is written) and merged at once on commit.
#include "platform/profile_model.h"

struct CProfileFile::SectionWriter::State {
  CProfileFile::Impl* file = nullptr;
  WString section;
  bool valid = false;
  bool wide = false;
  std::vector<Buf> chunks;
  std::vector<Impl::Entry> entries;   // buf: index into chunks
  std::vector<std::uint32_t> hashes;  // BatchHash of each entry's key
  bool distinct = false;              // the caller's word that no key comes twice
  std::size_t nextChunk = std::size_t(1) << 16;
  // Room for `units` more units held and `raw` more bytes of holes in the last chunk. Text
  // counts against the offsets of a chunk as if the digits of its holes were held.
  template <class C>
  C* Room(std::size_t units, std::size_t raw = 0) {
    if (chunks.empty() || chunks.back().held + units > chunks.back().cap ||
        chunks.back().size + units + 2 * raw + 2 > kMaxUnits ||
        (raw && chunks.back().raw && chunks.back().rawSize + raw > chunks.back().rawCap)) {
      const std::size_t cap = std::min(std::max(units, nextChunk), kMaxUnits);
      nextChunk = std::min(nextChunk * 2, std::size_t(1) << 24);
      chunks.push_back(Buf::Make<C>(cap));
    }
    Buf& b = chunks.back();
    if (raw && !b.raw) {  // the bytes of holes, next to the text
      b.rawCap = std::max(raw, b.cap / 2);
      b.raw = NewMem(b.rawCap);
    }
    return b.Data<C>() + b.held;
  }

  // A key as the file holds it (Impl::FileName); only a name that is not ASCII needs the file read.
  WStringView FileName(WStringView key, WString& held) const {
    return AllAscii(key) ? key : Ready(*file).FileName(key, held);
  }

  template <class C>
  View<C> Key(const Impl::Entry& e) const {
    return View<C>(chunks[e.buf].Data<C>() + e.held, e.keyLen);
  }

  // Whether a key occurs twice: a bit per hash value (sixteen or more per entry, few met twice
  // by chance), then the keys of the entries whose bits were met twice compared.
  template <class C>
  bool Repeated() const {
    const std::size_t n = entries.size();
    std::size_t bits = 1024;
    while (bits < 16 * n) bits *= 2;
    const auto mask = std::uint32_t(bits - 1);
    std::vector<std::uint64_t> once(bits / 64, 0), twice(bits / 64, 0);
    bool any = false;
    for (std::size_t i = 0; i < n; ++i) {
      if (i + 16 < n) __builtin_prefetch(&once[(hashes[i + 16] & mask) >> 6]);
      const std::uint32_t b = hashes[i] & mask;
      const std::uint64_t m = std::uint64_t(1) << (b & 63);
      if (once[b >> 6] & m) {
        twice[b >> 6] |= m;
        any = true;
      }
      once[b >> 6] |= m;
    }
    if (!any) return false;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> met;  // hash, entry
    for (std::size_t i = 0; i < n; ++i) {
      if (i + 16 < n) __builtin_prefetch(&twice[(hashes[i + 16] & mask) >> 6]);
      const std::uint32_t b = hashes[i] & mask;
      if (twice[b >> 6] & (std::uint64_t(1) << (b & 63))) met.emplace_back(hashes[i], std::uint32_t(i));
    }
    std::sort(met.begin(), met.end());
    for (std::size_t i = 0; i < met.size(); ++i)
      for (std::size_t j = i + 1; j < met.size() && met[j].first == met[i].first; ++j)
        if (EqualNoCase(Key<C>(entries[met[i].second]), Key<C>(entries[met[j].second]))) return true;
    return false;
  }

  void MakeWide() {
    if (wide) return;
    for (Buf& b : chunks) {  // the holes stay as they are
      Buf w = Buf::Make<char16_t>(b.cap);
      Widen(b.Data<char>(), b.held, w.Data<char16_t>());
      w.size = b.size;
      w.held = b.held;
      w.holes = std::move(b.holes);
      w.raw = std::move(b.raw);
      w.rawSize = b.rawSize;
      w.rawCap = b.rawCap;
      b = std::move(w);
    }
    wide = true;
    for (std::size_t i = 0; i < entries.size(); ++i) hashes[i] = BatchHash(Key<char16_t>(entries[i]));
  }

  // The line just written at the end of the last chunk: `units` of text, `hole` bytes of them
  // (if any) left as a hole after "key=".
  void Push(std::size_t keyLen, std::size_t units, std::uint32_t hash, std::span<const std::uint8_t> hole = {}) {
    Buf& b = chunks.back();
    hashes.push_back(hash);
    entries.push_back(Impl::Entry{std::uint32_t(chunks.size() - 1), std::uint32_t(b.size), std::uint32_t(keyLen),
                                  std::uint32_t(units), std::uint32_t(b.held)});
    if (!hole.empty()) {
      b.holes.push_back(Hole{std::uint32_t(b.size + keyLen + 1), std::uint32_t(b.held + keyLen + 1),
                             std::uint32_t(b.rawSize), std::uint32_t(hole.size())});
      std::memcpy(b.raw.get() + b.rawSize, hole.data(), hole.size());
      b.rawSize += hole.size();
      b.held += units - (2 * hole.size() + 2);
    } else {
      b.held += units;
    }
    b.size += units;
  }

  // Adds "key=" + the struct encoding of data + "\r\n" with the digits left as a hole, written
  // out when the file is.
  bool AddHole(WStringView key, std::span<const std::uint8_t> data) {
    WString name;
    key = Trim(FileName(key, name));
    if (!valid || !KeyLeadsWell(key)) return false;
    const std::size_t units = key.size() + 2 * data.size() + 5, held = key.size() + 3;
    if (units > kMaxUnits) return false;
    std::uint32_t hash = 0;
    if (!wide) {
      char* dst = Room<char>(held, data.size());
      const int narrow = NarrowKey(key, dst, hash);
      if (narrow == 0) return false;
      if (narrow > 0) {
        dst[key.size()] = '=';
        dst[key.size() + 1] = '\r';
        dst[key.size() + 2] = '\n';
        Push(key.size(), units, hash, data);
        return true;
      }
      bool ascii = true;
      if (!CheckText(key, true, ascii)) return false;
      MakeWide();
    } else {
      bool ascii = true;
      if (!CheckText(key, true, ascii)) return false;
    }
    char16_t* dst = Room<char16_t>(held, data.size());
    std::memcpy(dst, key.data(), key.size() * 2);
    dst[key.size()] = u'=';
    dst[key.size() + 1] = u'\r';
    dst[key.size() + 2] = u'\n';
    Push(key.size(), units, BatchHash(WStringView(dst, key.size())), data);
    return true;
  }

  // Adds "key=" + value + "\r\n", the value written by put(C* at) in valueLen units.
  template <class Put>
  bool Add(WStringView key, std::size_t valueLen, bool asciiValue, Put&& put) {
    WString held;
    key = Trim(FileName(key, held));
    if (!valid || !KeyLeadsWell(key)) return false;
    const std::size_t units = key.size() + valueLen + 3;
    if (units > kMaxUnits) return false;
    if (!wide && asciiValue) {  // the usual case: checked while copied
      char* dst = Room<char>(units);
      std::uint32_t hash = 0;
      const int narrow = NarrowKey(key, dst, hash);
      if (narrow == 0) return false;
      if (narrow > 0) {
        dst[key.size()] = '=';
        put(dst + key.size() + 1);
        dst[units - 2] = '\r';
        dst[units - 1] = '\n';
        Push(key.size(), units, hash);
        return true;
      }
    }
    bool asciiKey = true;
    if (!CheckText(key, true, asciiKey)) return false;
    if (!wide && !(asciiValue && asciiKey)) MakeWide();
    auto write = [&](auto* dst) {
      using C = std::remove_pointer_t<decltype(dst)>;
      if constexpr (sizeof(C) == 1) {
        Narrow(key.data(), key.size(), dst);
      } else {
        std::memcpy(dst, key.data(), key.size() * 2);
      }
      dst[key.size()] = C('=');
      put(dst + key.size() + 1);
      dst[units - 2] = C('\r');
      dst[units - 1] = C('\n');
      Push(key.size(), units, BatchHash(View<C>(dst, key.size())));
    };
    if (wide) {
      write(Room<char16_t>(units));
    } else {
      write(Room<char>(units));
    }
    return true;
  }
};

CProfileFile::SectionWriter::SectionWriter(std::unique_ptr<State> s) : s_(std::move(s)) {}
CProfileFile::SectionWriter::SectionWriter(SectionWriter&&) noexcept = default;
CProfileFile::SectionWriter& CProfileFile::SectionWriter::operator=(SectionWriter&&) noexcept = default;
CProfileFile::SectionWriter::~SectionWriter() = default;

void CProfileFile::SectionWriter::AssumeDistinctKeys() {
  if (s_) s_->distinct = true;
}

void CProfileFile::SectionWriter::Reserve(std::size_t units, std::size_t entries) {
  if (!s_) return;
  s_->entries.reserve(s_->entries.size() + entries);
  s_->hashes.reserve(s_->hashes.size() + entries);
  if (s_->chunks.empty() || s_->chunks.back().cap - s_->chunks.back().held < units)
    s_->nextChunk = std::min(std::max(s_->nextChunk, units), kMaxUnits);
}

bool CProfileFile::SectionWriter::WriteString(WStringView key, WStringView value) {
  bool ascii = true;
  if (!s_ || !CheckText(value, false, ascii)) return false;
  return s_->Add(key, value.size(), ascii, [&](auto* dst) {
    using C = std::remove_pointer_t<decltype(dst)>;
    if constexpr (sizeof(C) == 1) {
      Narrow(value.data(), value.size(), dst);
    } else {
      std::memcpy(dst, value.data(), value.size() * 2);
    }
  });
}

bool CProfileFile::SectionWriter::WriteStruct(WStringView key, std::span<const std::uint8_t> data) {
  if (!s_ || data.size() > kMaxUnits / 2) return false;
  // large values are encoded when the file is written, from a copy of their bytes: less memory
  if (data.size() >= 64) return s_->AddHole(key, data);
  return s_->Add(key, 2 * data.size() + 2, true, [&](auto* dst) { HexEncode(data.data(), data.size(), dst); });
}

bool CProfileFile::SectionWriter::WriteStructs(WStringView prefix, std::int32_t first, std::size_t size,
                                               std::span<const std::uint8_t> data) {
  if (!s_ || size == 0 || data.size() % size != 0) return false;
  State& s = *s_;
  // Each key is the prefix without leading blanks and a number: checked once.
  WStringView lead = prefix;
  while (!lead.empty() && IsBlank(lead.front())) lead.remove_prefix(1);
  bool ascii = true;
  const std::size_t count = data.size() / size;
  const bool fast = s.valid && !s.wide && size < 64 && CheckText(lead, true, ascii) && ascii && lead.size() <= 64 &&
                    (lead.empty() || KeyLeadsWell(lead)) && first >= 0 &&
                    std::int64_t(first) + std::int64_t(count) <= std::int64_t(INT32_MAX) + 1;
  if (!fast) {  // one by one
    bool ok = true;
    WString key;
    for (std::size_t i = 0; i < count; ++i) {
      key.assign(prefix);
      const WString number = FormatW(u"%d", std::int32_t(std::int64_t(first) + std::int64_t(i)));
      key += number;
      ok = WriteStruct(key, data.subspan(i * size, size)) && ok;
    }
    return ok;
  }
  // The words of the key that lie within the prefix are the same for every key; the last ones
  // are put together in a register, not read back from the text just written.
  char head[64];
  Narrow(lead.data(), lead.size(), head);
  const std::size_t n = lead.size(), fullWords = n / 8;
  std::uint64_t words[8], tailWord = 0;  // the prefix in words, and what is left of it
  for (std::size_t w = 0; w < fullWords; ++w) {
    std::memcpy(&words[w], head + 8 * w, 8);
    words[w] = FoldWord(words[w]);
  }
  const std::size_t tail = n - 8 * fullWords;
  std::memcpy(&tailWord, head + 8 * fullWords, tail);
  for (std::size_t i = 0; i < count; ++i) {
    const auto number = std::uint32_t(std::int64_t(first) + std::int64_t(i));  // not negative here
    char digits[10];
    std::size_t d = 0;
    for (std::uint32_t v = number; d == 0 || v; v /= 10) digits[d++] = char('0' + v % 10);
    const std::size_t keyLen = n + d, units = keyLen + 2 * size + 5;
    char* dst = s.Room<char>(units);
    std::memcpy(dst, head, n);
    for (std::size_t k = 0; k < d; ++k) dst[n + k] = digits[d - 1 - k];
    dst[keyLen] = '=';
    HexEncode(data.data() + i * size, size, dst + keyLen + 1);
    dst[units - 2] = '\r';
    dst[units - 1] = '\n';
    // BatchHash of the key
    std::uint64_t h = std::uint64_t(keyLen) * kHashMul, w = 0;
    for (std::size_t k = 0; k < fullWords; ++k) h = MixWord(h, words[k]);
    if (tail + d < 8) {  // the rest of the prefix and the number in one word
      std::uint64_t number = 0;
      for (std::size_t k = 0; k < d; ++k)
        number |= std::uint64_t(static_cast<unsigned char>(digits[d - 1 - k])) << (8 * k);
      w = tailWord | number << (8 * tail);
    } else {
      int shift = 0;
      for (std::size_t k = 8 * fullWords; k < keyLen; ++k) {
        const char c = k < n ? head[k] : digits[d - 1 - (k - n)];
        w |= std::uint64_t(static_cast<unsigned char>(c)) << shift;
        if ((shift += 8) == 64) {
          h = MixWord(h, FoldWord(w));
          w = 0;
          shift = 0;
        }
      }
    }
    s.Push(keyLen, units, FinishHash(MixWord(h, FoldWord(w))));
  }
  return true;
}

bool CProfileFile::SectionWriter::WriteInt(WStringView key, std::int32_t value) {
  char16_t buf[12];
  std::size_t n = 0;
  std::uint32_t u = value < 0 ? 0u - std::uint32_t(value) : std::uint32_t(value);
  do {
    buf[11 - n++] = char16_t(u'0' + u % 10);
    u /= 10;
  } while (u);
  if (value < 0) buf[11 - n++] = u'-';
  return WriteString(key, WStringView(buf + 12 - n, n));
}

bool CProfileFile::SectionWriter::Commit() {
  if (!s_ || !s_->valid) return false;
  State& s = *s_;
  Impl& f = *s.file;
  bool ok = true;
  if (!s.entries.empty()) {
    auto adopt = [&] {
      const auto base = std::uint32_t(f.bufs.size());
      for (Buf& b : s.chunks) f.bufs.push_back(std::move(b));
      return base;
    };
    Impl::Streamed streamed = Impl::Streamed::kNot;
    const bool ascii = !s.wide && AllAscii(WStringView(s.section));
    if (ascii && f.unread) {  // the file is read as it is merged
      const bool repeated = !s.distinct && s.Repeated<char>();
      const std::uint32_t base = adopt();
      {
        std::lock_guard lock(f.parseMutex);
        streamed = f.StreamMerge(s.section, s.entries, s.hashes, base, repeated);
      }
      if (streamed == Impl::Streamed::kNot) {  // given back: merged after reading
        for (std::size_t i = 0; i < s.chunks.size(); ++i) s.chunks[i] = std::move(f.bufs[base + i]);
        f.bufs.resize(base);
      }
    }
    if (streamed == Impl::Streamed::kNot) {
      f.Ready();
      if (!ascii || f.wide) {
        s.MakeWide();
        f.MakeWide();
      }
      const bool repeated = !s.distinct && (f.wide ? s.Repeated<char16_t>() : s.Repeated<char>());
      const std::uint32_t base = adopt();
      ok = f.Dispatch([&](auto tag) { return f.Merge<decltype(tag)>(s.section, s.entries, s.hashes, base, repeated); });
    } else {
      ok = streamed == Impl::Streamed::kDone;
    }
  }
  s.chunks.clear();
  s.entries.clear();
  s.hashes.clear();

  return ok;
}

CProfileFile::SectionWriter CProfileFile::WriteSection(WStringView section) {
  auto s = std::make_unique<SectionWriter::State>();
  s->file = &I();
  WString held;
  s->section = WString(Trim(s->FileName(section, held)));
  s->valid = Impl::ValidSection(s->section);
  return SectionWriter(std::move(s));
}
