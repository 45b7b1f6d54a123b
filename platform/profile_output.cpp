// Writing a profile file out: its text in the file's encoding (UTF-16, the ANSI code page, or the
// bytes as read while they are ASCII), handed over in large pieces, and the atomic save.
#include <QFile>
#include "platform/durable_file.h"
#include "platform/profile_model.h"

template <class C, class Sink>
auto CProfileFile::Impl::Render(Sink&& sink) const -> void {
  bool needEol = false;
  auto lineEnd = [&] {
    static constexpr C kCrLf[] = {C('\r'), C('\n')};
    if (needEol) sink(View<C>(kCrLf, 2));
    needEol = false;
  };
  auto put = [&](View<C> t) {  // whole lines
    if (t.empty()) return;
    lineEnd();
    sink(t);
    needEol = t.back() != C('\n') && t.back() != C('\r');
  };
  std::vector<C> piece;  // the text held and the digits of the holes, handed over in large pieces
  auto putHoled = [&](const Span& span) {
    const Buf& b = bufs[span.buf];
    auto h = std::lower_bound(b.holes.begin(), b.holes.end(), span.off,
                              [](const Hole& x, std::size_t v) { return x.at < v; });
    std::size_t held = h == b.holes.begin() ? span.off : span.off - ((h - 1)->at + (h - 1)->Len() - (h - 1)->held);
    const C* t = b.Data<C>();
    const auto* raw = reinterpret_cast<const std::uint8_t*>(b.raw.get());
    constexpr std::size_t kPiece = std::size_t(1) << 18;
    piece.clear();
    piece.reserve(kPiece + 4096);
    lineEnd();
    for (std::size_t at = span.off, end = span.off + span.len; at < end;) {
      const std::size_t upto = (h != b.holes.end() && h->at < end) ? h->at : end;
      piece.insert(piece.end(), t + held, t + held + (upto - at));
      held += upto - at;
      at = upto;
      if (at < end) {
        const std::size_t o = piece.size();
        piece.resize(o + h->Len());
        HexEncode(raw + h->raw, h->n, piece.data() + o);
        at += h->Len();
        ++h;
      }
      if (piece.size() >= kPiece || at == end) {
        sink(View<C>(piece.data(), piece.size()));
        piece.clear();
      }
    }
  };  // a writer's lines end with CRLF
  for (const Section& s : sections) {
    if (s.dead) continue;
    put(Text<C>(s.header));
    if (s.parsed && s.parsed->modified) {
      ForEachLine<C>(s, s.parsed.get(), [&](const LineRef<C>& l) {
        if (!l.dead) put(Text<C>(l.text));
      });
    } else {
      for (const Span& b : s.body) {  // whole lines
        if (bufs[b.buf].holes.empty()) {
          put(Text<C>(b));
        } else {
          putHoled(b);
        }
      }
    }
  }
}

template <class Sink>
auto CProfileFile::Impl::Output(Sink&& sink) const -> bool {
  const AnsiSetting cp = CurrentCodePage();
  std::string stage;
  constexpr std::size_t kStage = std::size_t(1) << 18;
  stage.reserve(kStage + 1024);
  bool ok = true;
  auto flush = [&] {
    if (!stage.empty()) ok = ok && sink(stage.data(), stage.size());
    stage.clear();
  };
  auto bytes = [&](const char* p, std::size_t n) {
    if (n >= kStage / 4) {
      flush();
      ok = ok && sink(p, n);
      return;
    }
    stage.append(p, n);
    if (stage.size() >= kStage) flush();
  };
  if (encoding == Encoding::Utf16le) {
    bytes("\xFF\xFE", 2);
    if (!wide) {
      Render<char>([&](std::string_view t) {
        while (!t.empty()) {
          const std::size_t k = std::min<std::size_t>(t.size(), 4096);
          std::array<char16_t, 4096> w;
          Widen(t.data(), k, w.data());
          bytes(reinterpret_cast<const char*>(w.data()), 2 * k);
          t.remove_prefix(k);
        }
      });
    } else if constexpr (std::endian::native == std::endian::little) {
      Render<char16_t>([&](WStringView t) { bytes(reinterpret_cast<const char*>(t.data()), 2 * t.size()); });
    } else {
      Render<char16_t>([&](WStringView t) {
        for (char16_t c : t) {
          const char le[2] = {char(c & 0xFF), char(c >> 8)};
          bytes(le, 2);
        }
      });
    }
  } else if (!wide && cp.asciiSafe) {
    Render<char>([&](std::string_view t) { bytes(t.data(), t.size()); });
  } else if (cp.kind != CodePage::Named) {
    Render<char16_t>([&](WStringView t) {
      AppendSingleByte(stage, t, cp.kind);
      if (stage.size() >= kStage) flush();
    });
  } else {
    WString text;
    QStringEncoder enc(cp.name.c_str());
    auto encode = [&] {  // pieces end at whole characters
      const std::string b = EncodeNamed(enc, text);
      bytes(b.data(), b.size());
      text.clear();
    };
    auto add = [&](WStringView t) {
      text.append(t);
      if (text.size() >= kStage) encode();
    };
    if (wide) {
      Render<char16_t>(add);
    } else {
      Render<char>([&](std::string_view t) {
        const std::size_t o = text.size();
        text.resize(o + t.size());
        Widen(t.data(), t.size(), text.data() + o);
        if (text.size() >= kStage) encode();
      });
    }
    encode();
  }
  flush();
  return ok;
}

std::string CProfileFile::Serialize() const {
  const Impl& d = Ready(I());
  std::string out;
  out.reserve(2 + 2 * d.Units() + 2);
  d.Output([&](const char* p, std::size_t n) {
    out.append(p, n);
    return true;
  });
  return out;
}

bool CProfileFile::Save() {
  Impl& d = Ready(I());
  if (d.loadFailed || d.path.empty()) return false;
  // Every write, the sync and the close are checked before the file replaces the old one.
  DurableFile f(d.path);
  if (!f.Open()) return false;
  const bool written = d.Output([&](const char* p, std::size_t n) { return f.Write(p, n); });
  if (!written) {
    f.Cancel();
    return false;
  }
  return f.Commit();
}
