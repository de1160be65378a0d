#include "platform_registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cctype>
#include <filesystem>

#include "platform_savefile.h"
#include "platform_stream.h"

namespace {

std::atomic<bool> gForceReadOnly{false};

// A store larger than this is not ours (or is damaged beyond use); it is not
// read, and writes refuse to replace it rather than lose what it holds.
constexpr int64_t kMaxStoreBytes = 64 << 20;

// Every key brings its parents along, each holding its full path, so a key
// path of depth D and length P costs about D * P bytes. A damaged or crafted
// header of a few kilobytes ("a\a\a\...") would otherwise make the parser
// build gigabytes of parent paths. No key of ours comes near these limits;
// a header beyond them is skipped like any other unreadable line, and the
// parser stops taking new keys once their paths add up to the budget.
constexpr size_t kMaxKeyDepth = 512;
constexpr size_t kMaxKeyPathBytes = 4096;
constexpr size_t kMaxParsedKeyBytes = 64 << 20;

char FoldChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

const char* const kHex = "0123456789abcdef";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::vector<std::string> SplitPath(std::string_view Path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= Path.size()) {
    size_t end = Path.find('\\', start);
    if (end == std::string_view::npos) end = Path.size();
    if (end > start) parts.emplace_back(Path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::string JoinPath(const std::vector<std::string>& Parts, size_t Count) {
  std::string s;
  for (size_t i = 0; i < Count && i < Parts.size(); ++i) {
    if (i) s += '\\';
    s += Parts[i];
  }
  return s;
}

std::string NormalizePath(std::string_view Path) {
  std::vector<std::string> parts = SplitPath(Path);
  return JoinPath(parts, parts.size());
}

bool IsRootName(std::string_view Name) {
  static const char* const roots[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                      "HKEY_USERS", "HKEY_CURRENT_CONFIG"};
  for (const char* r : roots)
    if (FoldRegistryName(Name) == FoldRegistryName(r)) return true;
  return false;
}

// Quoted text: backslash escapes for the quote, the backslash and control
// bytes; everything else (UTF-8 included) as it is.
void AppendQuoted(std::string& Out, const std::string& Text) {
  Out += '"';
  for (char ch : Text) {
    unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': Out += "\\\""; break;
      case '\\': Out += "\\\\"; break;
      case '\n': Out += "\\n"; break;
      case '\r': Out += "\\r"; break;
      case '\t': Out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          Out += "\\x";
          Out += kHex[c >> 4];
          Out += kHex[c & 15];
        } else {
          Out += ch;
        }
    }
  }
  Out += '"';
}

// Reads a quoted text at Pos (which must hold the opening quote); moves Pos
// past the closing quote. False on anything malformed.
bool ReadQuoted(std::string_view Line, size_t& Pos, std::string& Out) {
  if (Pos >= Line.size() || Line[Pos] != '"') return false;
  ++Pos;
  Out.clear();
  while (Pos < Line.size()) {
    char c = Line[Pos++];
    if (c == '"') return true;
    if (c != '\\') {
      Out += c;
      continue;
    }
    if (Pos >= Line.size()) return false;
    char e = Line[Pos++];
    switch (e) {
      case '"': Out += '"'; break;
      case '\\': Out += '\\'; break;
      case 'n': Out += '\n'; break;
      case 'r': Out += '\r'; break;
      case 't': Out += '\t'; break;
      case 'x': {
        if (Pos + 2 > Line.size()) return false;
        int hi = HexDigit(Line[Pos]), lo = HexDigit(Line[Pos + 1]);
        if (hi < 0 || lo < 0) return false;
        Out += static_cast<char>(hi * 16 + lo);
        Pos += 2;
        break;
      }
      default: return false;
    }
  }
  return false;
}

// Key components in a section header: '%' and control bytes as %hh.
void AppendKeyPath(std::string& Out, const std::string& Path) {
  for (char ch : Path) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F || c == '%') {
      Out += '%';
      Out += kHex[c >> 4];
      Out += kHex[c & 15];
    } else {
      Out += ch;
    }
  }
}

bool ReadKeyPath(std::string_view Text, std::string& Out) {
  Out.clear();
  for (size_t i = 0; i < Text.size(); ++i) {
    if (Text[i] != '%') {
      Out += Text[i];
      continue;
    }
    if (i + 2 >= Text.size()) return false;
    int hi = HexDigit(Text[i + 1]), lo = HexDigit(Text[i + 2]);
    if (hi < 0 || lo < 0) return false;
    Out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

bool StartsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

bool KeyPathWithinLimits(const std::vector<std::string>& Parts) {
  if (Parts.size() > kMaxKeyDepth) return false;
  size_t bytes = Parts.empty() ? 0 : Parts.size() - 1;
  for (const std::string& p : Parts) bytes += p.size();
  return bytes <= kMaxKeyPathBytes;
}

// A key path with the end of each of its prefixes: the key of the first n
// components is Full.substr(0, Ends[n - 1]).
struct TKeyChain {
  std::string Full, Folded;
  std::vector<size_t> Ends;
};

TKeyChain MakeKeyChain(const std::vector<std::string>& Parts) {
  TKeyChain c;
  for (const std::string& p : Parts) {
    if (!c.Full.empty()) c.Full += '\\';
    c.Full += p;
    c.Ends.push_back(c.Full.size());
  }
  c.Folded = FoldRegistryName(c.Full);
  return c;
}

// How many leading components of the chain exist as keys. A key never exists
// without its parents, so the search starts at the deepest prefix and stops
// at the first one found: its cost follows what is missing, not the depth
// times the length of the path.
size_t ExistingDepth(const std::map<std::string, TRegistryKey>& Keys, const TKeyChain& C) {
  size_t n = C.Ends.size();
  while (n > 0 && Keys.find(C.Folded.substr(0, C.Ends[n - 1])) == Keys.end()) --n;
  return n;
}

// The path bytes that creating the key of Parts would add (its missing
// parents included).
size_t NewKeyBytes(const TRegistryData& Data, const std::vector<std::string>& Parts) {
  const TKeyChain c = MakeKeyChain(Parts);
  size_t added = 0;
  for (size_t n = ExistingDepth(Data.Keys, c); n < c.Ends.size(); ++n) added += c.Ends[n];
  return added;
}

// One value line: "name"=<value>. False when the line cannot be read.
bool ParseValueLine(std::string_view Line, TRegistryValue& V) {
  size_t pos = 0;
  if (!ReadQuoted(Line, pos, V.Name)) return false;
  if (pos >= Line.size() || Line[pos] != '=') return false;
  ++pos;
  std::string_view rest = Line.substr(pos);
  if (!rest.empty() && rest.front() == '"') {
    size_t p = 0;
    if (!ReadQuoted(rest, p, V.Bytes) || p != rest.size()) return false;
    V.Type = rdString;
    return true;
  }
  if (StartsWith(rest, "expand:")) {
    rest.remove_prefix(7);
    size_t p = 0;
    if (!ReadQuoted(rest, p, V.Bytes) || p != rest.size()) return false;
    V.Type = rdExpandString;
    return true;
  }
  if (StartsWith(rest, "dword:")) {
    rest.remove_prefix(6);
    if (rest.empty() || rest.size() > 8) return false;
    uint32_t v = 0;
    for (char c : rest) {
      int d = HexDigit(c);
      if (d < 0) return false;
      v = v * 16 + static_cast<uint32_t>(d);
    }
    V.Type = rdInteger;
    V.Bytes.assign(4, '\0');
    for (int i = 0; i < 4; ++i) V.Bytes[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return true;
  }
  if (StartsWith(rest, "hex:")) {
    rest.remove_prefix(4);
    V.Type = rdBinary;
    V.Bytes.clear();
    size_t i = 0;
    while (i < rest.size()) {
      if (i + 2 > rest.size()) return false;
      int hi = HexDigit(rest[i]), lo = HexDigit(rest[i + 1]);
      if (hi < 0 || lo < 0) return false;
      V.Bytes += static_cast<char>(hi * 16 + lo);
      i += 2;
      if (i < rest.size()) {
        if (rest[i] != ',' || i + 1 == rest.size()) return false;
        ++i;
      }
    }
    return true;
  }
  return false;
}

}  // namespace

std::string FoldRegistryName(std::string_view Name) {
  std::string s(Name);
  for (char& c : s) c = FoldChar(c);
  return s;
}

std::string RegistryRootName(HKEY Root) {
  switch (Root) {
    case HKEY_CLASSES_ROOT: return "HKEY_CLASSES_ROOT";
    case HKEY_CURRENT_USER: return "HKEY_CURRENT_USER";
    case HKEY_LOCAL_MACHINE: return "HKEY_LOCAL_MACHINE";
    case HKEY_USERS: return "HKEY_USERS";
    case HKEY_CURRENT_CONFIG: return "HKEY_CURRENT_CONFIG";
    default: return "";
  }
}

// ---- TRegistryData ----------------------------------------------------------

TRegistryKey* TRegistryData::FindKey(const std::string& Path) {
  auto it = Keys.find(FoldRegistryName(NormalizePath(Path)));
  return it == Keys.end() ? nullptr : &it->second;
}

const TRegistryKey* TRegistryData::FindKey(const std::string& Path) const {
  auto it = Keys.find(FoldRegistryName(NormalizePath(Path)));
  return it == Keys.end() ? nullptr : &it->second;
}

TRegistryKey& TRegistryData::CreateKey(const std::string& Path) {
  const TKeyChain c = MakeKeyChain(SplitPath(Path));
  if (c.Ends.empty()) return Keys.try_emplace("").first->second;
  // Only the missing tail of the chain is made; the parents that exist keep
  // the case they have.
  size_t n = ExistingDepth(Keys, c);
  TRegistryKey* key = n > 0 ? &Keys.find(c.Folded.substr(0, c.Ends[n - 1]))->second : nullptr;
  for (; n < c.Ends.size(); ++n) {
    auto [it, added] = Keys.try_emplace(c.Folded.substr(0, c.Ends[n]));
    if (added) it->second.Path = c.Full.substr(0, c.Ends[n]);
    key = &it->second;
  }
  return *key;
}

bool TRegistryData::DeleteKey(const std::string& Path) {
  std::string folded = FoldRegistryName(NormalizePath(Path));
  bool found = false;
  for (auto it = Keys.lower_bound(folded); it != Keys.end() && StartsWith(it->first, folded);) {
    const std::string& k = it->first;
    if (k.size() == folded.size() || k[folded.size()] == '\\') {
      it = Keys.erase(it);
      found = true;
    } else {
      ++it;
    }
  }
  return found;
}

TRegistryData ParseRegistryText(std::string_view Text, size_t* Skipped) {
  TRegistryData data;
  size_t skipped = 0;
  TRegistryKey* key = nullptr;  // the section the value lines belong to
  size_t keyBytes = 0;          // path bytes of the keys made so far
  size_t start = 0;
  while (start < Text.size()) {
    size_t end = Text.find('\n', start);
    if (end == std::string_view::npos) end = Text.size();
    std::string_view line = TrimLeft(TrimRight(Text.substr(start, end - start)));
    start = end + 1;
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      key = nullptr;
      std::string path;
      if (line.back() != ']' || line.size() < 2 || !ReadKeyPath(line.substr(1, line.size() - 2), path)) {
        ++skipped;
        continue;
      }
      std::vector<std::string> parts = SplitPath(path);
      const size_t added = parts.empty() || !IsRootName(parts[0]) || !KeyPathWithinLimits(parts)
                               ? SIZE_MAX
                               : NewKeyBytes(data, parts);
      if (added > kMaxParsedKeyBytes - keyBytes) {
        ++skipped;
        continue;
      }
      keyBytes += added;
      key = &data.CreateKey(path);
      continue;
    }
    TRegistryValue v;
    if (!key || !ParseValueLine(line, v)) {
      ++skipped;
      continue;
    }
    key->Values[FoldRegistryName(v.Name)] = std::move(v);
  }
  if (Skipped) *Skipped = skipped;
  return data;
}

std::string FormatRegistryText(const TRegistryData& Data) {
  std::string out = "; Vemra settings. Lines that cannot be read are skipped.\n";
  for (const auto& [folded, key] : Data.Keys) {
    if (key.Path.empty()) continue;
    out += "\n[";
    AppendKeyPath(out, key.Path);
    out += "]\n";
    for (const auto& [vfolded, v] : key.Values) {
      AppendQuoted(out, v.Name);
      out += '=';
      switch (v.Type) {
        case rdInteger: {
          uint32_t x = 0;
          for (size_t i = 0; i < 4 && i < v.Bytes.size(); ++i)
            x |= static_cast<uint32_t>(static_cast<unsigned char>(v.Bytes[i])) << (8 * i);
          out += "dword:";
          for (int s = 28; s >= 0; s -= 4) out += kHex[(x >> s) & 15];
          break;
        }
        case rdBinary:
        case rdUnknown:
          out += "hex:";
          for (size_t i = 0; i < v.Bytes.size(); ++i) {
            if (i) out += ',';
            unsigned char c = static_cast<unsigned char>(v.Bytes[i]);
            out += kHex[c >> 4];
            out += kHex[c & 15];
          }
          break;
        case rdExpandString:
          out += "expand:";
          AppendQuoted(out, v.Bytes);
          break;
        case rdString:
          AppendQuoted(out, v.Bytes);
          break;
      }
      out += '\n';
    }
  }
  return out;
}

// ---- TRegistry ----------------------------------------------------------------

std::string TRegistry::DefaultStoreFile() {
  if (const char* f = std::getenv("VEMRA_REGISTRY_FILE"); f && *f) return f;
  std::string base;
  // A relative XDG_CONFIG_HOME is to be ignored.
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && x[0] == '/') {
    base = x;
  } else {
    std::string home;
    if (const char* h = std::getenv("HOME"); h && *h) {
      home = h;
    } else {
      struct passwd pw, *result = nullptr;
      char buf[4096];
      if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &result) == 0 && result && result->pw_dir) home = result->pw_dir;
    }
    if (home.empty()) home = "/tmp";
    base = home + "/.config";
  }
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base + "/vemra/registry";
}

void TRegistry::ForceReadOnly(bool On) { gForceReadOnly = On; }

bool TRegistry::ReadOnlyForced() {
  if (gForceReadOnly) return true;
  const char* e = std::getenv("VEMRA_REGISTRY_READONLY");
  return e && std::strcmp(e, "1") == 0;
}

TRegistry::TRegistry() : TRegistry(DefaultStoreFile(), KEY_ALL_ACCESS) {}
TRegistry::TRegistry(uint32_t Access) : TRegistry(DefaultStoreFile(), Access) {}
TRegistry::TRegistry(const std::string& StoreFile, uint32_t Access) : file_(StoreFile), access_(Access) {}

void TRegistry::SetRootKey(HKEY Root) {
  if (Root == root_) return;
  CloseKey();
  root_ = Root;
}

bool TRegistry::RegistryConnect(const std::string& MachineName) {
  return MachineName.empty() || MachineName == ".";
}

bool TRegistry::StoreReadOnly() const {
  if (ReadOnlyForced()) return true;
  namespace fs = std::filesystem;
  fs::path file(file_);
  fs::path dir = file.parent_path();
  if (dir.empty()) dir = ".";
  if (::access(file_.c_str(), F_OK) == 0)
    return ::access(file_.c_str(), W_OK) != 0 || ::access(dir.c_str(), W_OK) != 0;
  // Not there yet: the nearest folder that exists must let us create it.
  while (!dir.empty() && ::access(dir.c_str(), F_OK) != 0) {
    fs::path parent = dir.parent_path();
    if (parent == dir) break;
    dir = parent;
  }
  return ::access(dir.empty() ? "." : dir.c_str(), W_OK) != 0;
}

std::string TRegistry::Resolve(const std::string& Key) const {
  std::string rootName = RegistryRootName(root_);
  std::string base = (!Key.empty() && Key[0] == '\\') || current_.empty() ? rootName : current_;
  std::string rel = NormalizePath(Key);
  return rel.empty() ? base : base + "\\" + rel;
}

std::string TRegistry::KeyPathForValues() const { return current_.empty() ? RegistryRootName(root_) : current_; }

std::string TRegistry::CurrentPath() const {
  std::string rootName = RegistryRootName(root_);
  if (current_.size() <= rootName.size()) return "";
  return current_.substr(rootName.size() + 1);
}

bool TRegistry::Load(TRegistryData& Data) {
  struct stat st;
  if (::stat(file_.c_str(), &st) != 0) {
    const int err = errno;
    Data = TRegistryData();
    cacheValid_ = false;
    damaged_ = false;
    return err == ENOENT || err == ENOTDIR;
  }
  int64_t mtime = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  if (cacheValid_ && cacheIno_ == static_cast<uint64_t>(st.st_ino) && cacheSize_ == static_cast<uint64_t>(st.st_size) &&
      cacheMtimeNs_ == mtime) {
    Data = cache_;
    return true;
  }
  cacheValid_ = false;
  damaged_ = false;
  Data = TRegistryData();
  if (!S_ISREG(st.st_mode) || st.st_size > kMaxStoreBytes) return false;
  int fd = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT;
  std::string text;
  char buf[65536];
  bool ok = true;
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) { ok = false; break; }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
    if (static_cast<int64_t>(text.size()) > kMaxStoreBytes) { ok = false; break; }
  }
  struct stat st2;
  bool same = ::fstat(fd, &st2) == 0 && st2.st_ino == st.st_ino;
  ::close(fd);
  if (!ok) return false;
  size_t skipped = 0;
  Data = ParseRegistryText(text, &skipped);
  // A store of which not one key can be read is not ours either, even when
  // every line passes for a comment or a blank; only the text we write for
  // an empty store is.
  damaged_ = skipped > 0 || (Data.Keys.empty() && !text.empty() && text != FormatRegistryText(TRegistryData()));
  if (same) {
    cache_ = Data;
    cacheValid_ = true;
    cacheIno_ = static_cast<uint64_t>(st.st_ino);
    cacheSize_ = static_cast<uint64_t>(st.st_size);
    cacheMtimeNs_ = mtime;
  }
  return true;
}

// Removes what writers killed between creating and renaming their temporary
// file left beside the store: the atomic save's hidden ".<store>.XXXXXX".
// Runs under the lock, so no living writer of this store owns one of them.
// The visible "<store>.XXXXXX" of older versions is left alone: a user's own
// copy such as "registry.backup" has the same shape.
void TRegistry::RemoveDeadTempFiles(const std::string& Store) {
  namespace fs = std::filesystem;
  const fs::path store(Store);
  const std::string base = store.filename().string();
  std::error_code ec;
  const fs::path dir = store.has_parent_path() ? store.parent_path() : fs::path(".");
  auto isTempOf = [&](const std::string& n) {
    if (n.size() != base.size() + 8 || n[0] != '.' || n.compare(1, base.size(), base) != 0 || n[1 + base.size()] != '.')
      return false;
    for (size_t i = base.size() + 2; i < n.size(); ++i)
      if (!std::isalnum(static_cast<unsigned char>(n[i]))) return false;
    return true;
  };
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string n = it->path().filename().string();
    if (isTempOf(n) && it->is_regular_file(ec)) ::unlink(it->path().c_str());
  }
}

template <class F>
bool TRegistry::Update(F&& Change) {
  if (StoreReadOnly()) return false;
  namespace fs = std::filesystem;
  // A store that is a symbolic link is written where the link points; the
  // lock sits beside the real file, so every way to it shares one lock.
  const std::string store = ResolveSaveTarget(file_);
  fs::path dir = fs::path(store).parent_path();
  std::error_code ec;
  if (!dir.empty()) fs::create_directories(dir, ec);
  std::string lockName = store + ".lock";
  int lockFd = ::open(lockName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lockFd < 0) return false;
  while (::flock(lockFd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      ::close(lockFd);
      return false;
    }
  }
  RemoveDeadTempFiles(store);
  // Under the lock: read what is on disk now, not what we saw before, so that
  // the values another process wrote meanwhile survive our change.
  cacheValid_ = false;
  TRegistryData data;
  bool ok = Load(data);
  try {
    // What could not be read is lost once the store is rewritten from what
    // could: the old text is kept beside it for the user first.
    if (ok && damaged_) {
      TMemoryStream copy;
      copy.LoadFromFile(file_);
      ReplaceFileAtomically(store + ".bad", [&](TStream& s) { s.WriteBuffer(copy.Memory(), copy.Bytes().size()); },
                            TRenameFailure::rfWriteError);
    }
    if (ok) {
      Change(data);
      const std::string text = FormatRegistryText(data);
      ReplaceFileAtomically(store, [&](TStream& s) { s.WriteBuffer(text.data(), text.size()); },
                            TRenameFailure::rfWriteError);
      Load(data);  // refresh the cache from the file just written
    }
  } catch (const EStreamError&) {
    ok = false;
  }
  ::close(lockFd);
  return ok;
}

bool TRegistry::OpenKey(const std::string& Key, bool CanCreate) {
  std::string path = Resolve(Key);
  // A key the store could not read back is not made in the first place.
  std::vector<std::string> parts = SplitPath(path);
  if (parts.empty() || !IsRootName(parts[0]) || !KeyPathWithinLimits(parts)) return false;
  if (WantsWrite() && StoreReadOnly()) return false;
  TRegistryData data;
  bool loaded = Load(data);
  if (loaded && data.FindKey(path)) {
    current_ = data.FindKey(path)->Path;
    return true;
  }
  if (!CanCreate || !loaded) return false;
  if (!Update([&](TRegistryData& d) { d.CreateKey(path); })) return false;
  Load(data);
  const TRegistryKey* k = data.FindKey(path);
  current_ = k ? k->Path : NormalizePath(path);
  return true;
}

bool TRegistry::OpenKeyReadOnly(const std::string& Key) {
  uint32_t saved = access_;
  access_ = KEY_READ;
  bool ok = OpenKey(Key, false);
  if (!ok) access_ = saved;
  return ok;
}

void TRegistry::CloseKey() { current_.clear(); }

bool TRegistry::KeyExists(const std::string& Key) {
  TRegistryData data;
  Load(data);
  return data.FindKey(Resolve(Key)) != nullptr;
}

bool TRegistry::DeleteKey(const std::string& Key) {
  // An object opened for reading deletes nothing, as it writes nothing.
  if (!WantsWrite()) return false;
  std::string path = Resolve(Key);
  // The root itself is never deleted.
  if (SplitPath(path).size() < 2) return false;
  bool existed = false;
  bool ok = Update([&](TRegistryData& d) { existed = d.DeleteKey(path); });
  if (ok && existed && !current_.empty()) {
    std::string cur = FoldRegistryName(current_), del = FoldRegistryName(NormalizePath(path));
    if (cur == del || StartsWith(cur, del + "\\")) current_.clear();
  }
  return ok && existed;
}

std::vector<std::string> TRegistry::GetKeyNames() {
  TRegistryData data;
  Load(data);
  std::vector<std::string> names;
  std::string prefix = FoldRegistryName(KeyPathForValues()) + "\\";
  for (const auto& [folded, key] : data.Keys)
    if (StartsWith(folded, prefix) && folded.find('\\', prefix.size()) == std::string::npos)
      names.push_back(key.Path.substr(prefix.size()));
  return names;
}

const TRegistryValue* TRegistry::FindValue(const TRegistryData& Data, const std::string& Name) const {
  const TRegistryKey* key = Data.FindKey(KeyPathForValues());
  if (!key) return nullptr;
  auto it = key->Values.find(FoldRegistryName(Name));
  return it == key->Values.end() ? nullptr : &it->second;
}

bool TRegistry::ValueExists(const std::string& Name) {
  TRegistryData data;
  Load(data);
  return FindValue(data, Name) != nullptr;
}

TRegDataType TRegistry::GetDataType(const std::string& Name) {
  TRegistryData data;
  Load(data);
  const TRegistryValue* v = FindValue(data, Name);
  return v ? v->Type : rdUnknown;
}

std::vector<std::string> TRegistry::GetValueNames() {
  TRegistryData data;
  Load(data);
  std::vector<std::string> names;
  if (const TRegistryKey* key = data.FindKey(KeyPathForValues()))
    for (const auto& [folded, v] : key->Values) names.push_back(v.Name);
  return names;
}

bool TRegistry::DeleteValue(const std::string& Name) {
  if (!WantsWrite()) return false;
  std::string path = KeyPathForValues();
  bool existed = false;
  bool ok = Update([&](TRegistryData& d) {
    if (TRegistryKey* key = d.FindKey(path)) existed = key->Values.erase(FoldRegistryName(Name)) > 0;
  });
  return ok && existed;
}

std::string TRegistry::ReadString(const std::string& Name) {
  TRegistryData data;
  Load(data);
  const TRegistryValue* v = FindValue(data, Name);
  if (!v) return "";
  if (v->Type != rdString && v->Type != rdExpandString)
    throw ERegistryException("Invalid data type for '" + Name + "'");
  return v->Bytes;
}

int32_t TRegistry::ReadInteger(const std::string& Name) {
  TRegistryData data;
  Load(data);
  const TRegistryValue* v = FindValue(data, Name);
  if (!v || v->Type != rdInteger || v->Bytes.size() != 4)
    throw ERegistryException("Invalid data type for '" + Name + "'");
  uint32_t x = 0;
  for (int i = 0; i < 4; ++i) x |= static_cast<uint32_t>(static_cast<unsigned char>(v->Bytes[i])) << (8 * i);
  return static_cast<int32_t>(x);
}

std::string TRegistry::ReadBinaryData(const std::string& Name) {
  TRegistryData data;
  Load(data);
  const TRegistryValue* v = FindValue(data, Name);
  if (!v) return "";
  if (v->Type != rdBinary && v->Type != rdUnknown) throw ERegistryException("Invalid data type for '" + Name + "'");
  return v->Bytes;
}

void TRegistry::WriteValue(const std::string& Name, TRegDataType Type, const std::string& Bytes) {
  std::string path = KeyPathForValues();
  // Values of an unknown root would be written where no reader finds them.
  bool ok = WantsWrite() && !RegistryRootName(root_).empty() && Update([&](TRegistryData& d) {
              TRegistryKey& key = d.CreateKey(path);
              TRegistryValue& v = key.Values[FoldRegistryName(Name)];
              // A value keeps the case of the name it was first written with.
              if (v.Name.empty()) v.Name = Name;
              v.Type = Type;
              v.Bytes = Bytes;
            });
  if (!ok) throw ERegistryException("Failed to set data for '" + Name + "'");
}

void TRegistry::WriteString(const std::string& Name, const std::string& Value) { WriteValue(Name, rdString, Value); }

void TRegistry::WriteExpandString(const std::string& Name, const std::string& Value) {
  WriteValue(Name, rdExpandString, Value);
}

void TRegistry::WriteInteger(const std::string& Name, int32_t Value) {
  std::string bytes(4, '\0');
  uint32_t x = static_cast<uint32_t>(Value);
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((x >> (8 * i)) & 0xFF);
  WriteValue(Name, rdInteger, bytes);
}

void TRegistry::WriteBinaryData(const std::string& Name, const std::string& Bytes) {
  WriteValue(Name, rdBinary, Bytes);
}
