#include "platform/registry.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/durable_file.h"
#include "platform/file_errors.h"
#include "platform/strings.h"
#include "res/StringIds.h"

#include <QChar>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QStandardPaths>

namespace {

// Names compare with each UTF-16 unit upper-cased on its own, as the platform does.
WString Folded(WStringView s) {
  WString f(s);
  for (char16_t& c : f) {
    if (c < 0x80) {
      if (c >= u'a' && c <= u'z') c = char16_t(c - 32);
    } else if (const char32_t u = QChar::toUpper(char32_t(c)); u <= 0xFFFF) {
      c = char16_t(u);
    }
  }
  return f;
}

struct Value {
  WString name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct Node {
  WString name;
  std::map<WString, std::shared_ptr<Node>> children;  // by folded name: case-insensitive order
  std::vector<Value> values;
  bool deleted = false;

  Value* FindValue(WStringView n) {
    const WString f = Folded(n);
    for (Value& v : values)
      if (Folded(v.name) == f) return &v;
    return nullptr;
  }
};

struct Handle {
  std::shared_ptr<Node> node;
  REGSAM sam = 0;
  bool dirty = false;  // changed something: the store is written when it closes
};

struct Store {
  std::mutex mutex;
  bool loaded = false;
  bool dirty = false;
  bool loadRefused = false;  // the file is kept as it was found: never written over
  RegistryLoadReport loadReport;
  int writeError = 0;
  std::filesystem::path file;  // chosen by SetRegistryFile; empty: environment or default
  std::shared_ptr<Node> root;
  std::unordered_map<std::uintptr_t, Handle> handles;
  std::uintptr_t next = 0x1000;
};

Store& S() {
  static Store store;
  return store;
}

const std::uintptr_t kRoot = 0x80000001u;

std::filesystem::path ResolveFile(const Store& s) {
  if (!s.file.empty()) return s.file;
  if (const char* env = std::getenv("Q7V_REGISTRY_FILE"); env && *env) return env;
  const QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  return std::filesystem::path(QFile::encodeName(dir + QStringLiteral("/q7v-measure/registry.dat")).toStdString());
}

QString ToQ(WStringView s) { return QString::fromUtf16(s.data(), qsizetype(s.size())); }

// A key name as a path part: 1 to 255 characters, no backslash, no NUL.
bool ValidKeyName(WStringView name) {
  return !name.empty() && name.size() <= 255 && name.find(u'\\') == WStringView::npos &&
         name.find(u'\0') == WStringView::npos;
}

QJsonObject ToJson(const Node& n) {
  QJsonArray values, keys;
  for (const Value& v : n.values)
    values.append(QJsonObject{
        {QStringLiteral("name"), ToQ(v.name)},
        {QStringLiteral("type"), qint64(v.type)},
        {QStringLiteral("data"), QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(v.data.data()),
                                                                 qsizetype(v.data.size()))
                                                          .toBase64())}});
  for (const auto& [folded, child] : n.children) keys.append(ToJson(*child));
  return QJsonObject{{QStringLiteral("name"), ToQ(n.name)},
                     {QStringLiteral("values"), values},
                     {QStringLiteral("keys"), keys}};
}

std::shared_ptr<Node> FromJson(const QJsonObject& o) {
  auto n = std::make_shared<Node>();
  n->name = o.value(QStringLiteral("name")).toString().toStdU16String();
  for (const QJsonValue& jv : o.value(QStringLiteral("values")).toArray()) {
    const QJsonObject vo = jv.toObject();
    Value v;
    v.name = vo.value(QStringLiteral("name")).toString().toStdU16String();
    v.type = DWORD(vo.value(QStringLiteral("type")).toInteger());
    const QByteArray data = QByteArray::fromBase64(vo.value(QStringLiteral("data")).toString().toLatin1());
    v.data.assign(data.begin(), data.end());
    // A name with a NUL could never be passed to the calls: it is dropped like a duplicate.
    if (v.name.find(u'\0') == WString::npos && !n->FindValue(v.name)) n->values.push_back(std::move(v));
  }
  for (const QJsonValue& jk : o.value(QStringLiteral("keys")).toArray()) {
    auto child = FromJson(jk.toObject());
    // Only names the calls accept: a damaged file must not list keys that cannot be opened.
    if (ValidKeyName(child->name)) n->children.try_emplace(Folded(child->name), child);
  }
  return n;
}

// Moves the file to "registry.dat.damaged-20240131-154500" (or "...-2" and on when that is
// taken), never over another file; the new path, or empty with errno set when it stays.
std::filesystem::path MoveAside(const std::filesystem::path& file) {
  const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
  const std::string base = file.native() + ".damaged-" + stamp.toStdString();
  for (int n = 1; n <= 1000; ++n) {
    const std::string name = n == 1 ? base : base + "-" + std::to_string(n);
    if (::renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE) == 0) return name;
    if (errno == EEXIST) continue;
    if (errno != EINVAL && errno != ENOSYS) return {};
    // A file system without that rename: a hard link is just as exclusive.
    if (::link(file.c_str(), name.c_str()) == 0) {
      ::unlink(file.c_str());
      return name;
    }
    if (errno != EEXIST) return {};
  }
  errno = EEXIST;
  return {};
}

// Reads the store on first use. No file gives an empty store. A file that is not a store of
// settings is never written over: one too large to be a store is left unread, one that cannot be
// read is left alone, and one that does not parse is moved aside (or left alone when it cannot
// be moved); each is reported by RegistryLoadResult.
void EnsureLoaded(Store& s) {
  if (s.loaded) return;
  s.loaded = true;
  s.dirty = false;
  s.root = std::make_shared<Node>();
  s.loadRefused = false;
  const std::filesystem::path file = ResolveFile(s);
  s.loadReport = RegistryLoadReport{};
  s.loadReport.file = file;
  auto keep = [&](RegistryLoadState state, int error) {
    s.loadRefused = true;
    s.loadReport.state = state;
    s.loadReport.error = error;
  };
  QFile f(QFile::decodeName(file.native().c_str()));
  if (!f.open(QIODevice::ReadOnly)) {
    std::error_code ec;
    if (std::filesystem::is_directory(file, ec)) {
      keep(RegistryLoadState::Unreadable, EISDIR);
    } else if (std::filesystem::exists(file, ec)) {
      const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
      keep(RegistryLoadState::Unreadable, fd < 0 ? errno : EACCES);
      if (fd >= 0) ::close(fd);
    }
    return;
  }
  if (f.size() > kMaxRegistryFileBytes) {
    // Kept as it is: a later save must not replace what may still be someone's settings.
    keep(RegistryLoadState::TooLarge, 0);
    return;
  }
  const QByteArray bytes = f.read(kMaxRegistryFileBytes);
  f.close();
  if (bytes.isEmpty()) return;  // nothing in it to lose
  QJsonParseError parsed{};
  const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parsed);
  const QJsonObject top = doc.object();
  if (parsed.error == QJsonParseError::NoError && doc.isObject() &&
      top.value(QStringLiteral("format")).toString() == QStringLiteral("q7v-registry") &&
      top.value(QStringLiteral("root")).isObject()) {
    s.root = FromJson(top.value(QStringLiteral("root")).toObject());
    s.root->name.clear();
    return;
  }
  // Damaged: what can still be read in it is someone's settings. Moved aside, the store starts
  // afresh under the real name; left in place, it is never written over.
  if (const std::filesystem::path aside = MoveAside(file); !aside.empty()) {
    s.loadReport.state = RegistryLoadState::MovedAside;
    s.loadReport.movedTo = aside;
  } else {
    keep(RegistryLoadState::DamagedKept, errno);
  }
}

bool SaveStore(Store& s) {
  if (s.loadRefused) {
    s.writeError = EPERM;
    SetLastFileError(EPERM);
    return false;
  }
  const std::filesystem::path file = ResolveFile(s);
  const QString name = QFile::decodeName(file.native().c_str());
  QDir().mkpath(QFileInfo(name).absolutePath());
  const QJsonObject top{{QStringLiteral("format"), QStringLiteral("q7v-registry")},
                        {QStringLiteral("version"), 1},
                        {QStringLiteral("root"), ToJson(*s.root)}};
  const QByteArray text = QJsonDocument(top).toJson(QJsonDocument::Indented);
  // Every write, the sync and the close are checked before the file replaces the old one.
  if (!WriteFileDurably(file, std::span(reinterpret_cast<const std::uint8_t*>(text.constData()), std::size_t(text.size())),
                        &s.writeError))
    return false;
  s.dirty = false;
  return true;
}

// A change through the never-closed root handle is written at once, else when its handle closes.
LONG Changed(Store& s, HKEY hKey) {
  s.dirty = true;
  if (reinterpret_cast<std::uintptr_t>(hKey) == kRoot) return SaveStore(s) ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
  s.handles[reinterpret_cast<std::uintptr_t>(hKey)].dirty = true;
  return ERROR_SUCCESS;
}

// The key behind a handle, with its access rights; ERROR_* when unusable.
LONG Resolve(Store& s, HKEY hKey, REGSAM need, std::shared_ptr<Node>& out) {
  EnsureLoaded(s);
  const auto id = reinterpret_cast<std::uintptr_t>(hKey);
  if (id == kRoot) {
    out = s.root;
    return ERROR_SUCCESS;
  }
  auto it = s.handles.find(id);
  if (it == s.handles.end()) return ERROR_INVALID_HANDLE;
  if ((it->second.sam & need) != need) return ERROR_ACCESS_DENIED;
  out = it->second.node;
  return out->deleted ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

// Splits "a\b\c" into names; a trailing backslash is allowed, empty names are not.
bool SplitPath(const char16_t* path, std::vector<WStringView>& parts) {
  if (!path) return true;
  WStringView p(path);
  if (!p.empty() && p.back() == u'\\') p.remove_suffix(1);
  if (p.empty()) return true;
  for (std::size_t start = 0;;) {
    const std::size_t sep = p.find(u'\\', start);
    const WStringView part = p.substr(start, sep == WStringView::npos ? WStringView::npos : sep - start);
    if (!ValidKeyName(part)) return false;
    parts.push_back(part);
    if (sep == WStringView::npos) return true;
    start = sep + 1;
  }
}

HKEY NewHandle(Store& s, std::shared_ptr<Node> node, REGSAM sam, bool dirty) {
  const std::uintptr_t id = s.next;
  s.next += 4;
  s.handles[id] = Handle{std::move(node), sam, dirty};
  return reinterpret_cast<HKEY>(id);
}

LONG CopyOut(const std::vector<BYTE>& data, DWORD needed, BYTE* buf, DWORD* size) {
  if (!buf) {
    if (size) *size = needed;
    return ERROR_SUCCESS;
  }
  if (!size) return ERROR_INVALID_PARAMETER;
  if (*size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (!data.empty()) std::memcpy(buf, data.data(), data.size());
  if (needed > data.size()) std::memset(buf + data.size(), 0, needed - data.size());
  *size = needed;
  return ERROR_SUCCESS;
}

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

}  // namespace

LONG RegCreateKeyExW(HKEY hKey, const char16_t* lpSubKey, DWORD, char16_t*, DWORD, REGSAM samDesired, const void*,
                     HKEY* phkResult, DWORD* lpdwDisposition) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  Store& s = S();
  std::lock_guard lock(s.mutex);
  std::shared_ptr<Node> node;
  if (LONG r = Resolve(s, hKey, 0, node)) return r;
  std::vector<WStringView> parts;
  if (!SplitPath(lpSubKey, parts)) return ERROR_BAD_PATHNAME;
  const auto parentId = reinterpret_cast<std::uintptr_t>(hKey);
  const bool mayCreate = parentId == kRoot || (s.handles[parentId].sam & KEY_CREATE_SUB_KEY);
  bool created = false;
  for (WStringView part : parts) {
    auto [it, inserted] = node->children.try_emplace(Folded(part));
    if (inserted) {
      if (!mayCreate) {
        node->children.erase(it);
        return ERROR_ACCESS_DENIED;
      }
      it->second = std::make_shared<Node>();
      it->second->name = WString(part);
      created = true;
    }
    node = it->second;
  }
  if (created) s.dirty = true;
  *phkResult = NewHandle(s, node, samDesired, created);
  if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG RegOpenKeyExW(HKEY hKey, const char16_t* lpSubKey, DWORD, REGSAM samDesired, HKEY* phkResult) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  Store& s = S();
  std::lock_guard lock(s.mutex);
  std::shared_ptr<Node> node;
  if (LONG r = Resolve(s, hKey, 0, node)) return r;
  std::vector<WStringView> parts;
  if (!SplitPath(lpSubKey, parts)) return ERROR_BAD_PATHNAME;
  for (WStringView part : parts) {
    auto it = node->children.find(Folded(part));
    if (it == node->children.end()) return ERROR_FILE_NOT_FOUND;
    node = it->second;
  }
  *phkResult = NewHandle(s, node, samDesired, false);
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey) {
  Store& s = S();
  std::lock_guard lock(s.mutex);
  const auto id = reinterpret_cast<std::uintptr_t>(hKey);
  if (id == kRoot) return ERROR_SUCCESS;
  auto it = s.handles.find(id);
  if (it == s.handles.end()) return ERROR_INVALID_HANDLE;
  const bool dirty = it->second.dirty;
  s.handles.erase(it);
  if (dirty && s.dirty && !SaveStore(s)) return ERROR_WRITE_FAULT;
  return ERROR_SUCCESS;
}

LONG RegFlushKey(HKEY hKey) {
  Store& s = S();
  std::lock_guard lock(s.mutex);
  std::shared_ptr<Node> node;
  if (LONG r = Resolve(s, hKey, 0, node); r && r != ERROR_KEY_DELETED) return r;
  if (s.dirty && !SaveStore(s)) return ERROR_WRITE_FAULT;
  return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY hKey, const char16_t* lpValueName, DWORD*, DWORD* lpType, BYTE* lpData,
                      DWORD* lpcbData) {
  Store& s = S();
  std::lock_guard lock(s.mutex);
  std::shared_ptr<Node> node;
  if (LONG r = Resolve(s, hKey, KEY_QUERY_VALUE, node)) return r;
  const Value* v = node->FindValue(lpValueName ? WStringView(lpValueName) : WStringView());
  if (!v) return ERROR_FILE_NOT_FOUND;
  if (lpType) *lpType = v->type;
  return CopyOut(v->data, DWORD(v->data.size()), lpData, lpcbData);
}

LONG RegGetValueW(HKEY hKey, const char16_t* lpSubKey, const char16_t* lpValue, DWORD dwFlags, DWORD* pdwType,
                  void* pvData, DWORD* pcbData) {
  if (!(dwFlags & RRF_RT_ANY) || (pvData && !pcbData)) return ERROR_INVALID_PARAMETER;
  HKEY key = hKey;
  if (lpSubKey && *lpSubKey)
    if (LONG r = RegOpenKeyExW(hKey, lpSubKey, 0, KEY_QUERY_VALUE, &key)) return r;
  LONG result = ERROR_SUCCESS;
  {
    Store& s = S();
    std::lock_guard lock(s.mutex);
    std::shared_ptr<Node> node;
    const Value* v = nullptr;
    result = Resolve(s, key, KEY_QUERY_VALUE, node);
    if (!result) {
      v = node->FindValue(lpValue ? WStringView(lpValue) : WStringView());
      if (!v) result = ERROR_FILE_NOT_FOUND;
    }
    if (!result) {
      static constexpr std::pair<DWORD, DWORD> kFilter[] = {
          {REG_NONE, RRF_RT_REG_NONE},     {REG_SZ, RRF_RT_REG_SZ},       {REG_EXPAND_SZ, RRF_RT_REG_EXPAND_SZ},
          {REG_BINARY, RRF_RT_REG_BINARY}, {REG_DWORD, RRF_RT_REG_DWORD}, {REG_MULTI_SZ, RRF_RT_REG_MULTI_SZ},
          {REG_QWORD, RRF_RT_REG_QWORD}};
      DWORD allowed = 0;
      for (auto [type, flag] : kFilter)
        if (type == v->type) allowed = flag;
      if (!(allowed & dwFlags)) result = ERROR_UNSUPPORTED_TYPE;
    }
    if (!result) {
      if (pdwType) *pdwType = v->type;
      // text comes back terminated even when it was stored without its terminator
      DWORD needed = DWORD(v->data.size());
      if (IsText(v->type)) {
        const std::size_t n = v->data.size();
        const bool terminated = n % 2 == 0 && n > 0 && v->data[n - 1] == 0 && v->data[n - 2] == 0;
        if (!terminated) needed = DWORD((n + 1) / 2 * 2 + 2);
      }
      result = CopyOut(v->data, needed, static_cast<BYTE*>(pvData), pcbData);
    }
  }
  if (key != hKey) RegCloseKey(key);
  return result;
}

LONG RegSetValueExW(HKEY hKey, const char16_t* lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                    DWORD cbData) {
  if ((!lpData && cbData) || (dwType == REG_DWORD && cbData != 4)) return ERROR_INVALID_PARAMETER;
  Store& s = S();
  std::lock_guard lock(s.mutex);
  std::shared_ptr<Node> node;
  if (LONG r = Resolve(s, hKey, KEY_SET_VALUE, node)) return r;
  const WStringView name = lpValueName ? WStringView(lpValueName) : WStringView();
  Value* v = node->FindValue(name);
  if (!v) {
    node->values.push_back(Value{WString(name), REG_NONE, {}});
    v = &node->values.back();
  }
  v->type = dwType;
  v->data.assign(lpData, lpData + cbData);
  return Changed(s, hKey);
}

LONG RegDeleteValueW(HKEY hKey, const char16_t* lpValueName) {
  Store& s = S();
  std::lock_guard lock(s.mutex);
  std::shared_ptr<Node> node;
  if (LONG r = Resolve(s, hKey, KEY_SET_VALUE, node)) return r;
  const Value* v = node->FindValue(lpValueName ? WStringView(lpValueName) : WStringView());
  if (!v) return ERROR_FILE_NOT_FOUND;
  node->values.erase(node->values.begin() + (v - node->values.data()));
  return Changed(s, hKey);
}

LONG RegDeleteKeyW(HKEY hKey, const char16_t* lpSubKey) {
  Store& s = S();
  std::lock_guard lock(s.mutex);
  std::shared_ptr<Node> parent;
  if (LONG r = Resolve(s, hKey, 0, parent)) return r;
  std::vector<WStringView> parts;
  if (!lpSubKey || !SplitPath(lpSubKey, parts) || parts.empty()) return ERROR_BAD_PATHNAME;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    auto it = parent->children.find(Folded(parts[i]));
    if (it == parent->children.end()) return ERROR_FILE_NOT_FOUND;
    parent = it->second;
  }
  auto it = parent->children.find(Folded(parts.back()));
  if (it == parent->children.end()) return ERROR_FILE_NOT_FOUND;
  if (!it->second->children.empty()) return ERROR_ACCESS_DENIED;
  it->second->deleted = true;  // open handles to it now fail with ERROR_KEY_DELETED
  parent->children.erase(it);
  return Changed(s, hKey);
}

LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, char16_t* lpName, DWORD* lpcchName, DWORD*, char16_t*, DWORD*,
                   void*) {
  if (!lpName || !lpcchName) return ERROR_INVALID_PARAMETER;
  Store& s = S();
  std::lock_guard lock(s.mutex);
  std::shared_ptr<Node> node;
  if (LONG r = Resolve(s, hKey, KEY_ENUMERATE_SUB_KEYS, node)) return r;
  if (dwIndex >= node->children.size()) return ERROR_NO_MORE_ITEMS;
  const WString& name = std::next(node->children.begin(), dwIndex)->second->name;
  if (*lpcchName <= name.size()) return ERROR_MORE_DATA;
  std::copy(name.begin(), name.end(), lpName);
  lpName[name.size()] = 0;
  *lpcchName = DWORD(name.size());
  return ERROR_SUCCESS;
}

LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, char16_t* lpValueName, DWORD* lpcchValueName, DWORD*, DWORD* lpType,
                   BYTE* lpData, DWORD* lpcbData) {
  if (!lpValueName || !lpcchValueName) return ERROR_INVALID_PARAMETER;
  Store& s = S();
  std::lock_guard lock(s.mutex);
  std::shared_ptr<Node> node;
  if (LONG r = Resolve(s, hKey, KEY_QUERY_VALUE, node)) return r;
  if (dwIndex >= node->values.size()) return ERROR_NO_MORE_ITEMS;
  const Value& v = node->values[dwIndex];
  if (*lpcchValueName <= v.name.size()) return ERROR_MORE_DATA;
  if (lpcbData && lpData && *lpcbData < v.data.size()) {
    *lpcbData = DWORD(v.data.size());
    return ERROR_MORE_DATA;
  }
  std::copy(v.name.begin(), v.name.end(), lpValueName);
  lpValueName[v.name.size()] = 0;
  *lpcchValueName = DWORD(v.name.size());
  if (lpType) *lpType = v.type;
  return lpcbData ? CopyOut(v.data, DWORD(v.data.size()), lpData, lpcbData) : ERROR_SUCCESS;
}

void SetRegistryFile(const std::filesystem::path& file) {
  Store& s = S();
  std::lock_guard lock(s.mutex);
  s.file = file;
  s.loaded = false;
  s.dirty = false;
  s.root.reset();
  s.handles.clear();
}

bool RegistryFileRefused() {
  Store& s = S();
  std::lock_guard lock(s.mutex);
  EnsureLoaded(s);
  return s.loadRefused;
}

RegistryLoadReport RegistryLoadResult() {
  Store& s = S();
  std::lock_guard lock(s.mutex);
  EnsureLoaded(s);
  return s.loadReport;
}

int RegistryLastWriteError() {
  Store& s = S();
  std::lock_guard lock(s.mutex);
  return s.writeError;
}

WString RegistryLoadNotice() {
  const RegistryLoadReport r = RegistryLoadResult();
  const WString file = r.file.u16string();
  switch (r.state) {
    case RegistryLoadState::Ok: return {};
    case RegistryLoadState::TooLarge: return FormatW(LoadStringW(sid::kSettingsFileTooLargeSettings), file);
    case RegistryLoadState::MovedAside: return FormatW(LoadStringW(sid::kSettingsFileDamagedMovedProgram), file, r.movedTo.u16string());
    case RegistryLoadState::DamagedKept: return FormatW(LoadStringW(sid::kSettingsFileDamagedCouldNot), file, FileErrorText(r.error));
    case RegistryLoadState::Unreadable: return FormatW(LoadStringW(sid::kSettingsFileCannotReadLeft), file, FileErrorText(r.error));
  }
  return {};
}

WString RegistryNotSavedReason() {
  const RegistryLoadReport r = RegistryLoadResult();
  return r.state == RegistryLoadState::Ok || r.state == RegistryLoadState::MovedAside
             ? FileErrorText(RegistryLastWriteError())
             : LoadStringW(sid::kSettingsFileFoundAtStart);
}

WString RegistryNotSavedText() {
  return FormatW(LoadStringW(sid::kSettingsCouldNotSaved), RegistryFile().u16string(), RegistryNotSavedReason());
}

std::filesystem::path RegistryFile() {
  Store& s = S();
  std::lock_guard lock(s.mutex);
  return ResolveFile(s);
}

// ---- CRegistryKey ---------------------------------------------------------------------------

CRegistryKey& CRegistryKey::operator=(CRegistryKey&& o) noexcept {
  if (this != &o) {
    Close();
    h_ = o.h_;
    o.h_ = nullptr;
  }
  return *this;
}

LONG CRegistryKey::Create(HKEY parent, WStringView path, REGSAM sam) {
  Close();
  return RegCreateKeyExW(parent, WString(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, sam, nullptr, &h_,
                         nullptr);
}

LONG CRegistryKey::Open(HKEY parent, WStringView path, REGSAM sam) {
  Close();
  return RegOpenKeyExW(parent, WString(path).c_str(), 0, sam, &h_);
}

LONG CRegistryKey::Close() {
  if (!h_) return ERROR_SUCCESS;
  const LONG r = RegCloseKey(h_);
  h_ = nullptr;
  return r;
}

std::optional<WString> CRegistryKey::QueryString(WStringView name) const {
  DWORD size = 0;
  const WString n(name);
  if (RegGetValueW(h_, nullptr, n.c_str(), RRF_RT_REG_SZ, nullptr, nullptr, &size)) return std::nullopt;
  WString text(size / 2, u'\0');
  if (RegGetValueW(h_, nullptr, n.c_str(), RRF_RT_REG_SZ, nullptr, text.data(), &size)) return std::nullopt;
  text.resize(std::char_traits<char16_t>::length(text.c_str()));
  return text;
}

std::optional<DWORD> CRegistryKey::QueryDword(WStringView name) const {
  DWORD value = 0, size = sizeof value;
  if (RegGetValueW(h_, nullptr, WString(name).c_str(), RRF_RT_REG_DWORD, nullptr, &value, &size)) return std::nullopt;
  return value;
}

std::optional<std::vector<BYTE>> CRegistryKey::QueryBinary(WStringView name) const {
  DWORD size = 0;
  const WString n(name);
  if (RegGetValueW(h_, nullptr, n.c_str(), RRF_RT_REG_BINARY, nullptr, nullptr, &size)) return std::nullopt;
  std::vector<BYTE> data(size);
  if (RegGetValueW(h_, nullptr, n.c_str(), RRF_RT_REG_BINARY, nullptr, data.data(), &size)) return std::nullopt;
  data.resize(size);
  return data;
}

LONG CRegistryKey::SetString(WStringView name, WStringView value) {
  const WString v(value);
  return RegSetValueExW(h_, WString(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                        DWORD((v.size() + 1) * 2));
}

LONG CRegistryKey::SetDword(WStringView name, DWORD value) {
  return RegSetValueExW(h_, WString(name).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
}

LONG CRegistryKey::SetBinary(WStringView name, std::span<const BYTE> data) {
  return RegSetValueExW(h_, WString(name).c_str(), 0, REG_BINARY, data.data(), DWORD(data.size()));
}

std::vector<WString> CRegistryKey::SubKeyNames() const {
  std::vector<WString> names;
  char16_t buf[256];
  for (DWORD i = 0;; ++i) {
    DWORD len = 256;
    const LONG r = RegEnumKeyExW(h_, i, buf, &len, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_MORE_DATA) continue;  // a name no call could open: skipped, not the end
    if (r != ERROR_SUCCESS) break;
    names.emplace_back(buf, len);
  }
  return names;
}
