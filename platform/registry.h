#pragma once
// Stand-in for the current user's registry: a small typed store of keys and values, shaped like
// the platform's registry calls so that settings code reads as it would there. Key and value
// names compare without regard to case and keep the case they were created with; subkeys
// enumerate in case-insensitive order, values in the order they were first set.
//
// The store lives in one file: $Q7V_REGISTRY_FILE when set, else the user's configuration folder
// + "/q7v-measure/registry.dat". It is read on first use and written atomically when a handle
// that changed something (or was created with a new key) is closed or flushed; values set and
// keys deleted through HKEY_CURRENT_USER itself, which is never closed, are written at once.
// All calls are thread-safe.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

#include "platform/text.h"

using DWORD = std::uint32_t;
using LONG = std::int32_t;
using BYTE = std::uint8_t;
using REGSAM = std::uint32_t;
struct HKEY__;
using HKEY = HKEY__*;

#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(std::uintptr_t(0x80000001u)))

inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_ACCESS_DENIED = 5;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_WRITE_FAULT = 29;
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_BAD_PATHNAME = 161;
inline constexpr LONG ERROR_MORE_DATA = 234;
inline constexpr LONG ERROR_NO_MORE_ITEMS = 259;
inline constexpr LONG ERROR_KEY_DELETED = 1018;
inline constexpr LONG ERROR_UNSUPPORTED_TYPE = 1630;

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD REG_QWORD = 11;

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Type filters of RegGetValueW.
inline constexpr DWORD RRF_RT_REG_NONE = 0x01;
inline constexpr DWORD RRF_RT_REG_SZ = 0x02;
inline constexpr DWORD RRF_RT_REG_EXPAND_SZ = 0x04;
inline constexpr DWORD RRF_RT_REG_BINARY = 0x08;
inline constexpr DWORD RRF_RT_REG_DWORD = 0x10;
inline constexpr DWORD RRF_RT_REG_MULTI_SZ = 0x20;
inline constexpr DWORD RRF_RT_REG_QWORD = 0x40;
inline constexpr DWORD RRF_RT_ANY = 0xFFFF;

// Paths use backslashes ("Software\\Q7V-MS\\Settings"); a null or empty path names hKey itself.
LONG RegCreateKeyExW(HKEY hKey, const char16_t* lpSubKey, DWORD Reserved, char16_t* lpClass, DWORD dwOptions,
                     REGSAM samDesired, const void* lpSecurityAttributes, HKEY* phkResult,
                     DWORD* lpdwDisposition);
LONG RegOpenKeyExW(HKEY hKey, const char16_t* lpSubKey, DWORD ulOptions, REGSAM samDesired, HKEY* phkResult);
LONG RegCloseKey(HKEY hKey);
LONG RegFlushKey(HKEY hKey);

// Without lpData: the size in *lpcbData. With a buffer smaller than the value: ERROR_MORE_DATA
// and the needed size in *lpcbData, the buffer untouched. A null value name is the default value.
LONG RegQueryValueExW(HKEY hKey, const char16_t* lpValueName, DWORD* lpReserved, DWORD* lpType, BYTE* lpData,
                      DWORD* lpcbData);
// As RegQueryValueExW, but refused with ERROR_UNSUPPORTED_TYPE unless the value's type is one
// that dwFlags allows (RRF_RT_*); strings come back terminated (counted in the size).
LONG RegGetValueW(HKEY hKey, const char16_t* lpSubKey, const char16_t* lpValue, DWORD dwFlags, DWORD* pdwType,
                  void* pvData, DWORD* pcbData);
// REG_SZ data is the UTF-16 text with its terminator; REG_DWORD data must be 4 bytes.
LONG RegSetValueExW(HKEY hKey, const char16_t* lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                    DWORD cbData);
LONG RegDeleteValueW(HKEY hKey, const char16_t* lpValueName);
// Refused with ERROR_ACCESS_DENIED while the key has subkeys.
LONG RegDeleteKeyW(HKEY hKey, const char16_t* lpSubKey);
// *lpcchName: buffer size in characters on entry, name length without terminator on return.
LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, char16_t* lpName, DWORD* lpcchName, DWORD* lpReserved,
                   char16_t* lpClass, DWORD* lpcchClass, void* lpftLastWriteTime);
LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, char16_t* lpValueName, DWORD* lpcchValueName, DWORD* lpReserved,
                   DWORD* lpType, BYTE* lpData, DWORD* lpcbData);

// Where the store lives. SetRegistryFile points it at another file (an empty path returns to
// $Q7V_REGISTRY_FILE or the default) and drops what was loaded; open handles become invalid.
void SetRegistryFile(const std::filesystem::path& file);
std::filesystem::path RegistryFile();
// Largest store file read. A larger file is not a store of settings: it is left unread and
// untouched (the store starts empty and is never written over it), and this reports it.
inline constexpr std::int64_t kMaxRegistryFileBytes = std::int64_t(4) << 20;
bool RegistryFileRefused();

// What became of the store file when it was read. A file that is there but is no store of
// settings (cut short, overwritten by something else) is never written over: it is moved aside
// to "<name>.damaged-<date>" and the store starts empty, or, when it cannot be moved, left where
// it is while the store starts empty and is never saved.
enum class RegistryLoadState {
  Ok,           // read, or no file yet
  TooLarge,     // left unread and untouched (RegistryFileRefused)
  Unreadable,   // there but cannot be read (no permission): left untouched, never saved
  MovedAside,   // not a store: moved to `movedTo`; the settings start afresh
  DamagedKept,  // not a store and could not be moved: left untouched, never saved
};
struct RegistryLoadReport {
  RegistryLoadState state = RegistryLoadState::Ok;
  std::filesystem::path file, movedTo;
  int error = 0;  // errno of the failed read or move
};
RegistryLoadReport RegistryLoadResult();
// errno of the last failed write of the store file, 0 when the last write succeeded.
int RegistryLastWriteError();
// In the operator's language: what became of a store file that was not read (empty when it was
// read or there was none), said once the window is up; why the store could not be saved just
// now; and the whole message naming the file and that reason.
WString RegistryLoadNotice();
WString RegistryNotSavedReason();
WString RegistryNotSavedText();

// A key handle that closes itself, with typed reads that fail on a type mismatch.
class CRegistryKey {
 public:
  CRegistryKey() = default;
  ~CRegistryKey() { Close(); }
  CRegistryKey(CRegistryKey&& o) noexcept : h_(o.h_) { o.h_ = nullptr; }
  CRegistryKey& operator=(CRegistryKey&& o) noexcept;
  CRegistryKey(const CRegistryKey&) = delete;
  CRegistryKey& operator=(const CRegistryKey&) = delete;

  LONG Create(HKEY parent, WStringView path, REGSAM sam = KEY_ALL_ACCESS);
  LONG Open(HKEY parent, WStringView path, REGSAM sam = KEY_READ);
  LONG Close();
  HKEY Handle() const { return h_; }
  bool IsOpen() const { return h_ != nullptr; }

  std::optional<WString> QueryString(WStringView name) const;  // up to the first terminator
  std::optional<DWORD> QueryDword(WStringView name) const;
  std::optional<std::vector<BYTE>> QueryBinary(WStringView name) const;
  LONG SetString(WStringView name, WStringView value);
  LONG SetDword(WStringView name, DWORD value);
  LONG SetBinary(WStringView name, std::span<const BYTE> data);
  std::vector<WString> SubKeyNames() const;

 private:
  HKEY h_ = nullptr;
};
