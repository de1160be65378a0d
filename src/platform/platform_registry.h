#pragma once
// Our own small registry: keys and typed values kept in one text file, by
// default $XDG_CONFIG_HOME/vemra/registry (XDG_CONFIG_HOME defaults to
// ~/.config). Several windows of the editor are several processes, so every
// update is one atomic step: under an advisory lock the file is read again,
// the change is applied to what is on disk (keeping what another process
// wrote meanwhile), and a temporary file replaces the store through the
// atomic save (a symbolic link to the store is followed). Temporary files of
// writers that were killed are removed by the next writer.
//
// Key and value names compare without regard to ASCII case and keep the case
// they were created with. A hand-edited or damaged file never brings the
// program down: lines that cannot be read are skipped, and before such a
// store, or one of which no key at all can be read, is rewritten its old text
// is kept beside it as "<store>.bad" ("registry.bad").
//
// Overrides, for tests and for running from a read-only medium:
//   VEMRA_REGISTRY_FILE      the store's path (also a constructor argument)
//   VEMRA_REGISTRY_READONLY  "1" makes every store read-only (also
//                            TRegistry::ForceReadOnly), since tests run as
//                            root and cannot take write access away by chmod.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform_exceptions.h"

VEMRA_DECLARE_EXCEPTION(ERegistryException, Exception);

using HKEY = uint32_t;
constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
constexpr HKEY HKEY_USERS = 0x80000003u;
constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005u;

// Access masks. Whatever asks for more than reading needs a writable store.
constexpr uint32_t KEY_QUERY_VALUE = 0x0001;
constexpr uint32_t KEY_SET_VALUE = 0x0002;
constexpr uint32_t KEY_CREATE_SUB_KEY = 0x0004;
constexpr uint32_t KEY_READ = 0x20019;
constexpr uint32_t KEY_WRITE = 0x20006;
constexpr uint32_t KEY_ALL_ACCESS = 0xF003F;

enum TRegDataType { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

// The contents of a store: what the file holds, parsed.
struct TRegistryValue {
  std::string Name;  // as created
  TRegDataType Type = rdString;
  std::string Bytes;  // text, raw bytes, or 4 little-endian bytes for integers
  bool operator==(const TRegistryValue&) const = default;
};

struct TRegistryKey {
  std::string Path;                              // full path as created, root name first
  std::map<std::string, TRegistryValue> Values;  // by case-folded name
  bool operator==(const TRegistryKey&) const = default;
};

struct TRegistryData {
  std::map<std::string, TRegistryKey> Keys;  // by case-folded full path

  // Full paths are "ROOT\a\b": components joined by one backslash.
  TRegistryKey* FindKey(const std::string& Path);
  const TRegistryKey* FindKey(const std::string& Path) const;
  // Creates the key and every missing parent; returns the key.
  TRegistryKey& CreateKey(const std::string& Path);
  // Removes the key with all its subkeys; false when it did not exist.
  bool DeleteKey(const std::string& Path);
  bool operator==(const TRegistryData&) const = default;
};

// Reads the store's text; lines that cannot be read are skipped (and counted
// in Skipped when given).
TRegistryData ParseRegistryText(std::string_view Text, size_t* Skipped = nullptr);
// Writes the store's text; ParseRegistryText gives the same data back.
std::string FormatRegistryText(const TRegistryData& Data);
// Case-folds a name or path the way the store compares them (ASCII only).
std::string FoldRegistryName(std::string_view Name);
// "HKEY_CURRENT_USER" for HKEY_CURRENT_USER and so on; empty for an unknown root.
std::string RegistryRootName(HKEY Root);

class TRegistry {
 public:
  // A registry object on the default store (or VEMRA_REGISTRY_FILE).
  TRegistry();
  explicit TRegistry(uint32_t Access);
  // A registry object on the given store file.
  explicit TRegistry(const std::string& StoreFile, uint32_t Access = KEY_ALL_ACCESS);
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  HKEY RootKey() const { return root_; }
  void SetRootKey(HKEY Root);
  uint32_t Access() const { return access_; }
  void SetAccess(uint32_t Access) { access_ = Access; }
  // Only the local machine ("" or ".") can be reached.
  bool RegistryConnect(const std::string& MachineName);

  // Opens a key: a path starting with "\" is taken from the root, any other
  // from the open key (or the root when none is open). With an access mask
  // that writes, fails on a read-only store.
  bool OpenKey(const std::string& Key, bool CanCreate);
  bool OpenKeyReadOnly(const std::string& Key);
  void CloseKey();
  bool HasCurrentKey() const { return !current_.empty(); }
  // The open key's path below the root ("SOFTWARE\Dulmora\Vemra").
  std::string CurrentPath() const;

  bool KeyExists(const std::string& Key);
  bool DeleteKey(const std::string& Key);
  std::vector<std::string> GetKeyNames();

  bool ValueExists(const std::string& Name);
  TRegDataType GetDataType(const std::string& Name);
  std::vector<std::string> GetValueNames();
  bool DeleteValue(const std::string& Name);

  // A missing value reads as the empty string; a value of another type
  // raises ERegistryException "Invalid data type for 'Name'".
  std::string ReadString(const std::string& Name);
  // A missing value or one of another type raises ERegistryException.
  int32_t ReadInteger(const std::string& Name);
  std::string ReadBinaryData(const std::string& Name);
  // Writes raise ERegistryException "Failed to set data for 'Name'" when the
  // object was opened for reading only or the store cannot be written.
  void WriteString(const std::string& Name, const std::string& Value);
  void WriteExpandString(const std::string& Name, const std::string& Value);
  void WriteInteger(const std::string& Name, int32_t Value);
  void WriteBinaryData(const std::string& Name, const std::string& Bytes);

  const std::string& StoreFile() const { return file_; }
  // True when this store cannot be written (forced, or no write permission).
  bool StoreReadOnly() const;

  // The default store file from the environment.
  static std::string DefaultStoreFile();
  // Makes every store of the process read-only (tests; read-only media).
  static void ForceReadOnly(bool On);
  static bool ReadOnlyForced();

 private:
  std::string Resolve(const std::string& Key) const;
  std::string KeyPathForValues() const;
  bool WantsWrite() const { return (access_ & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) != 0; }
  // The store's data as it is on disk now; false when the file exists but
  // could not be read (then Data is empty and writes are refused).
  bool Load(TRegistryData& Data);
  static void RemoveDeadTempFiles(const std::string& Store);
  // Applies Change to what is on disk under the lock and writes it back.
  template <class F>
  bool Update(F&& Change);
  void WriteValue(const std::string& Name, TRegDataType Type, const std::string& Bytes);
  const TRegistryValue* FindValue(const TRegistryData& Data, const std::string& Name) const;

  std::string file_;
  HKEY root_ = HKEY_CURRENT_USER;
  uint32_t access_ = KEY_ALL_ACCESS;
  std::string current_;  // full path of the open key, empty when none

  // What was read last, reused while the file on disk has not changed.
  TRegistryData cache_;
  bool cacheValid_ = false;
  // The last file read had lines that could not be read.
  bool damaged_ = false;
  uint64_t cacheIno_ = 0, cacheSize_ = 0;
  int64_t cacheMtimeNs_ = 0;
};
