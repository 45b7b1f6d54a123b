// Reading a profile file: whole, with its sections found in the same pass as the bytes come in,
// or one section of it in a single pass through a small buffer, without holding the file. Line
// ends are CR LF, LF or CR alone.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QStringDecoder>

#include "platform/profile_model.h"

auto CProfileFile::Impl::Open() -> int {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) loadFailed = errno != ENOENT && errno != ENOTDIR;
  return fd;
}

auto CProfileFile::Impl::Ready() -> void {
  std::lock_guard lock(parseMutex);
  if (!unread) return;
  unread = false;
  const int fd = Open();
  if (fd < 0) return;
  if (!Read(fd)) {
    loadFailed = true;
    bufs.clear();
  }
  ::close(fd);
}

auto CProfileFile::Impl::Read(int fd) -> bool {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || std::uint64_t(st.st_size) >= kMaxUnits) return false;
  // read, not mapped: a file cut short by another program meanwhile must not crash us
  const auto size = std::size_t(st.st_size);
  Mem bytes = NewMem(size + 1);
  const auto* t = reinterpret_cast<const char*>(bytes.get());
  constexpr std::size_t kPiece = std::size_t(1) << 19;
  HeaderScan scan;
  bool look = false;
  std::size_t got = 0;
  while (got < size) {
    const ssize_t r = ::read(fd, bytes.get() + got, std::min(size - got, kPiece));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return false;
    if (r == 0) break;
    if (got < 2 && got + std::size_t(r) >= 2)  // not for UTF-16, nor for code pages read otherwise
      look = !(t[0] == '\xFF' && t[1] == '\xFE') && CurrentCodePage().asciiSafe;
    got += std::size_t(r);
    if (look) {
      FindHeaders(t, scan.done, got, scan.high, scan.at);
      scan.done = got;
    }
  }
  if (!WithLineFeeds(bytes, got, scan)) return false;
  Load(std::move(bytes), got, scan);
  return true;
}

auto CProfileFile::Impl::WithLineFeeds(Mem& bytes, std::size_t& n, HeaderScan& scan) -> bool {
  const auto* b = reinterpret_cast<const char*>(bytes.get());
  if (n >= 2 && b[0] == '\xFF' && b[1] == '\xFE') {
    if constexpr (std::endian::native == std::endian::little) {
      const auto* u = reinterpret_cast<const char16_t*>(b + 2);  // the buffer starts on a page
      const std::size_t units = (n - 2) / 2;
      if (!HasLoneCr(u, units)) return true;
      std::size_t count = 0;
      Mem wide = WithCrLf(u, units, count);
      if (2 * count + 2 >= kMaxUnits) return false;
      Mem with = NewMem(2 * count + 2 + 1);
      std::memcpy(with.get(), b, 2);
      std::memcpy(with.get() + 2, wide.get(), 2 * count);
      bytes = std::move(with);
      n = 2 * count + 2;
    }
    return true;
  }
  if (!HasLoneCr(b, n)) return true;
  std::size_t count = 0;
  Mem with = WithCrLf(b, n, count);
  if (count >= kMaxUnits) return false;
  bytes = std::move(with);
  n = count;
  scan = HeaderScan{};  // found anew, with the new line ends
  return true;
}

auto CProfileFile::Impl::Load(Mem bytes, std::size_t n, HeaderScan& scan) -> void {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.get());
  const AnsiSetting cp = CurrentCodePage();
  Buf buf;
  if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
    encoding = Encoding::Utf16le;
    const std::size_t units = (n - 2) / 2;
    if constexpr (std::endian::native == std::endian::little) {
      buf.mem = std::move(bytes);
      buf.skip = 2;
    } else {
      buf = Buf::Make<char16_t>(units);
      for (std::size_t i = 0; i < units; ++i) buf.Data<char16_t>()[i] = char16_t(b[2 + 2 * i] | (b[3 + 2 * i] << 8));
    }
    buf.size = buf.held = buf.cap = units;
  } else {
    if (cp.asciiSafe) {
      // kept as read while it is ASCII (found out by the same pass that finds the sections)
      buf.mem = std::move(bytes);
      buf.size = buf.held = buf.cap = n;
      bufs.push_back(std::move(buf));
      if (scan.done != n) {
        scan = HeaderScan{};
        FindHeaders(reinterpret_cast<const char*>(b), 0, n, scan.high, scan.at);
      }
      if (scan.high < 0x80) {
        BuildSections<char>(scan.at);
        return;
      }
      bytes = std::move(bufs[0].mem);
      bufs.clear();
      buf = Buf{};
    }
    if (cp.kind == CodePage::Named) {
      const WString text = DecodeNamed(cp.name, reinterpret_cast<const char*>(b), n);
      buf = Buf::Make<char16_t>(text.size());
      std::memcpy(buf.Data<char16_t>(), text.data(), text.size() * 2);
      buf.size = buf.held = text.size();
    } else {
      buf = Buf::Make<char16_t>(n);
      char16_t* dst = buf.Data<char16_t>();
      for (std::size_t i = 0; i < n; ++i)
        dst[i] = (cp.kind == CodePage::Cp1252 && b[i] >= 0x80 && b[i] < 0xA0) ? kCp1252High[b[i] - 0x80] : b[i];
      buf.size = buf.held = n;
    }
  }
  wide = true;
  bufs.push_back(std::move(buf));
  unsigned unused = 0;
  std::vector<std::size_t> at;
  FindHeaders(bufs[0].Data<char16_t>(), 0, bufs[0].size, unused, at);
  BuildSections<char16_t>(at);
}

template <class C>
auto CProfileFile::Impl::BuildSections(const std::vector<std::size_t>& headers) -> void {
  const C* t = bufs[0].Data<C>();
  const std::size_t n = bufs[0].size;
  std::size_t bodyStart = 0;
  for (const std::size_t at : headers) {
    std::size_t lineStart = at;
    while (lineStart > 0 && IsBlank(t[lineStart - 1])) --lineStart;
    const C* nl = Find(t + at, n - at, C('\n'));
    const std::size_t next = nl ? std::size_t(nl - t) + 1 : n;
    AddBody(sections.back(), bodyStart, lineStart);
    Section s;
    s.header = Span{0, std::uint32_t(lineStart), std::uint32_t(next - lineStart)};
    AddSectionName(HeaderName(View<C>(t + at, next - at)), std::uint32_t(sections.size()));
    sections.push_back(std::move(s));
    bodyStart = next;
  }
  AddBody(sections.back(), bodyStart, n);
}

auto CProfileFile::Impl::StreamSection(int fd, WStringView wanted, bool (*fn)(void*, const ProfileEntry&), void* ctx)
    -> void {
  const AnsiSetting cp = CurrentCodePage();
  // in an ANSI file, the name as written there (Impl::FileName); which one is known from the BOM
  const WString ansiWanted = AllAscii(wanted) ? WString(wanted) : AnsiName(wanted);
  WStringView name = wanted;
  bool found = false, inTarget = false, more = true;
  bool loneCr = false;             // met a CR alone: lines are split there too
  auto oneLine = [&](auto view) {  // one whole line, its end included
    using C = typename decltype(view)::value_type;
    std::size_t i = 0;
    while (i < view.size() && IsBlank(view[i])) ++i;
    if (i < view.size() && view[i] == C('[')) {
      if (inTarget) more = false;  // the section ended
      inTarget = !found && EqualNoCase(HeaderName(view.substr(i)), name);
      found = found || inTarget;
      return;
    }
    if (!inTarget) return;
    const LineRef<C> l = MakeLine(view.data(), 0, 0, view.size());
    if (l.eq != View<C>::npos && l.Key().front() != C(';'))  // comments are no entries
      more = fn(ctx, ProfileEntry{ProfileText(l.Key()), ProfileText(l.Value())});
  };
  auto line = [&](auto view) {
    using C = typename decltype(view)::value_type;
    for (std::size_t cr = 0; loneCr && more;) {
      cr = view.find(C('\r'), cr);
      if (cr == decltype(view)::npos || cr + 1 >= view.size()) break;
      if (view[cr + 1] == C('\n')) {
        cr += 2;
        continue;
      }
      oneLine(view.substr(0, cr + 1));
      view.remove_prefix(cr + 1);
      cr = 0;
    }
    if (more) oneLine(view);
  };
  // lines of the ANSI code page that are not ASCII, decoded as a whole file would be
  QStringDecoder named;
  if (cp.kind == CodePage::Named) named = QStringDecoder(cp.name.c_str());
  WString wide;
  auto ansiLine = [&](const char* p, std::size_t n, bool ascii) {
    if (ascii && cp.asciiSafe) return line(View<char>(p, n));
    if (cp.kind == CodePage::Named) {
      wide.resize(std::size_t(named.requiredSpace(qsizetype(n))));
      QChar* begin = reinterpret_cast<QChar*>(wide.data());
      wide.resize(std::size_t(named.appendToBuffer(begin, QByteArrayView(p, qsizetype(n))) - begin));
    } else {
      wide.resize(n);
      for (std::size_t i = 0; i < n; ++i) {
        const auto b = static_cast<unsigned char>(p[i]);
        wide[i] = (cp.kind == CodePage::Cp1252 && b >= 0x80 && b < 0xA0) ? kCp1252High[b - 0x80] : b;
      }
    }
    line(WStringView(wide));
  };

  std::size_t cap = std::size_t(1) << 20, have = 0, start = 0;
  Mem piece = NewMem(cap);
  auto bytes = [&] { return reinterpret_cast<char*>(piece.get()); };
  bool first = true, utf16 = false, clean = true;  // clean: the bytes held are ASCII
  std::size_t checked = 0;                         // wide text: bytes held looked at for a lone CR
  bool lone8 = false;                              // 8-bit text: met a lone CR
  for (bool end = false; more && !end;) {
    if (start > 0) {  // keep the unfinished line
      std::memmove(bytes(), bytes() + start, have - start);
      have -= start;
      checked = checked > start ? checked - start : 0;
      start = 0;
    }
    if (have == cap) {  // a line longer than the piece
      Mem larger = NewMem(2 * cap);
      std::memcpy(larger.get(), piece.get(), have);
      piece = std::move(larger);
      cap *= 2;
    }
    const ssize_t r = ::read(fd, bytes() + have, cap - have);
    if (r < 0 && errno == EINTR) continue;
    end = r <= 0;
    if (r > 0) {
      // (lone CRs of 8-bit text noted on the way; wide text is looked at below)
      lone8 = lone8 || (have > 0 && bytes()[have - 1] == '\r' && bytes()[have] != '\n');
      if (clean) {
        clean = AsciiScan(bytes() + have, std::size_t(r), lone8);
      } else if (!lone8) {
        lone8 = HasLoneCr(bytes() + have, std::size_t(r));
      }
      have += std::size_t(r);
    }
    if (first) {
      if (have < 2 && !end) continue;
      first = false;
      utf16 = have >= 2 && bytes()[0] == '\xFF' && bytes()[1] == '\xFE';
      start = utf16 ? 2 : 0;
      if (!utf16) name = Trim(WStringView(ansiWanted));
    }
    // New text, from the CR that may have ended the last, before any line of it is handed on.
    if (!utf16) {
      loneCr = lone8;
    } else if (!loneCr && have > checked) {
      const std::size_t from = checked / 2 > 0 ? checked / 2 - 1 : 0;
      loneCr = HasLoneCr(reinterpret_cast<const char16_t*>(bytes()) + from, have / 2 - from);
      checked = have;
    }
    if (utf16) {
      const auto* u = reinterpret_cast<const char16_t*>(bytes());  // the piece starts on a page
      const std::size_t units = have / 2;
      std::size_t at = start / 2;
      while (more) {
        const char16_t* nl = Find(u + at, units - at, u'\n');
        if (!nl && !(end && at < units)) break;
        const std::size_t next = nl ? std::size_t(nl - u) + 1 : units;
        if constexpr (std::endian::native == std::endian::little) {
          line(WStringView(u + at, next - at));
        } else {
          const auto* b = reinterpret_cast<const unsigned char*>(bytes());
          wide.resize(next - at);
          for (std::size_t k = at; k < next; ++k) wide[k - at] = char16_t(b[2 * k] | (b[2 * k + 1] << 8));
          line(WStringView(wide));
        }
        at = next;
      }
      start = 2 * at;
      if (end) break;
      continue;
    }
    while (more) {
      const std::size_t next = LineEnd(bytes(), start, have);
      const bool whole = next > start && bytes()[next - 1] == '\n';
      if (!whole && !(end && next > start)) break;
      ansiLine(bytes() + start, next - start, clean || AllAscii(bytes() + start, next - start));
      start = next;
    }
    clean = clean || AllAscii(bytes() + start, have - start);  // what is kept for the next piece
  }
}

void CProfileFile::ReadSectionIn(const std::filesystem::path& file, WStringView section,
                                 bool (*fn)(void*, const ProfileEntry&), void* ctx) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st {};
  // as a whole read would: only a regular file, and one that offsets can hold
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && std::uint64_t(st.st_size) < kMaxUnits)
    Impl::StreamSection(fd, Trim(section), fn, ctx);
  ::close(fd);
}
