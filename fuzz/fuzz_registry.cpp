// The settings-store file. Whatever a load makes of it, every key it lists must open, one bad
// name must not hide its siblings, every value must read through each query, and the store must
// read back the same after it is written and loaded again; a file that is no store is kept whole.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "platform/durable_file.h"
#include "platform/registry.h"

namespace {

constexpr int kMaxKeys = 400;  // keys walked per input: deep or wide stores stay quick

void Put(std::u16string& out, WStringView s) {
  out += std::u16string(s);
  out += u'\n';
}

// The tree below `key` as text: values (name, type, bytes) and then subkeys, in listing order.
void Walk(HKEY key, std::u16string& out, int& budget, int depth) {
  std::vector<char16_t> buf(16384);  // on the heap: the walk recurses
  char16_t* name = buf.data();
  for (DWORD i = 0;; ++i) {
    DWORD len = DWORD(buf.size()), type = 0, size = 0;
    LONG r = RegEnumValueW(key, i, name, &len, nullptr, &type, nullptr, &size);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r != ERROR_SUCCESS) {
      Put(out, u"value name too long");
      continue;
    }
    const WString valueName(name, len);
    std::vector<BYTE> data(size + 1);
    DWORD got = size;
    FUZZ_CHECK(RegQueryValueExW(key, valueName.c_str(), nullptr, &type, data.data(), &got) == ERROR_SUCCESS);
    FUZZ_CHECK(got == size);
    std::vector<BYTE> typed(size + 4);
    DWORD typedSize = DWORD(typed.size());
    RegGetValueW(key, nullptr, valueName.c_str(), RRF_RT_ANY, nullptr, typed.data(), &typedSize);
    Put(out, u"V " + valueName + u" " + FormatW(u"%u %u", type, size));
    for (DWORD b = 0; b < size; ++b) out += char16_t(data[b]);
    out += u'\n';
  }

  std::vector<WString> listed;
  for (DWORD i = 0;; ++i) {
    DWORD len = 256;
    const LONG r = RegEnumKeyExW(key, i, name, &len, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) break;
    FUZZ_CHECK(i < 100000);
    if (r == ERROR_SUCCESS) listed.emplace_back(name, len);
  }
  CRegistryKey self;
  FUZZ_CHECK(self.Open(key, u"", KEY_READ) == ERROR_SUCCESS);
  FUZZ_CHECK(self.SubKeyNames() == listed);  // none hidden by a sibling

  for (const WString& sub : listed) {
    Put(out, u"K " + sub);
    CRegistryKey child;
    if (child.Open(key, sub, KEY_READ) != ERROR_SUCCESS) {
      std::fprintf(stderr, "listed subkey of %zu units does not open:", sub.size());
      for (char16_t c : sub.substr(0, 40)) std::fprintf(stderr, " %04x", unsigned(c));
      std::fprintf(stderr, "\n");
      FUZZ_CHECK(!"a listed key opens");
    }
    child.QueryString(u"");
    child.QueryDword(u"");
    child.QueryBinary(u"");
    if (--budget <= 0 || depth > 64) return;
    Walk(child.Handle(), out, budget, depth + 1);
    Put(out, u"end");
  }
}

std::u16string Dump() {
  std::u16string out;
  int budget = kMaxKeys;
  Walk(HKEY_CURRENT_USER, out, budget, 0);
  return out;
}

}  // namespace

// Saves are checked as always but not synced to the disk: a sync per input would bound the search.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetDurableSync(false);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto path = fuzz::ScratchDir() / "registry.dat";
  fuzz::WriteFile(path, data, size);
  SetRegistryFile(path);
  const std::u16string loaded = Dump();
  // What does not read as a store is kept whole beside it, and the store starts empty.
  if (const RegistryLoadReport r = RegistryLoadResult(); r.state == RegistryLoadState::MovedAside) {
    FUZZ_CHECK(fuzz::ReadFile(r.movedTo) == std::string(reinterpret_cast<const char*>(data), size));
    FUZZ_CHECK(loaded.empty());
    std::filesystem::remove(r.movedTo);
  } else {
    FUZZ_CHECK(r.state == RegistryLoadState::Ok);
  }

  // A change through the root key writes the whole store at once; the probe is then removed.
  const DWORD one = 1;
  FUZZ_CHECK(RegSetValueExW(HKEY_CURRENT_USER, u"fuzz probe", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                            sizeof one) == ERROR_SUCCESS);
  FUZZ_CHECK(RegDeleteValueW(HKEY_CURRENT_USER, u"fuzz probe") == ERROR_SUCCESS);

  SetRegistryFile(path);  // drops the store: the next call loads what was written
  FUZZ_CHECK(Dump() == loaded);
  return 0;
}
