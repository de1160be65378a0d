#include "exif_reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <locale.h>

#include "img_fileio.h"
#include "iptc_reader.h"
#include "maker_notes.h"
#include "platform_stream.h"

std::unique_ptr<TimgData> gExifData;
bool gHasExif = false;
bool gExifDecodeValues = true;

namespace {

// Directories one block may lead the parser to.
constexpr int32_t kMaxDirectories = 64;
// Entries in the tag list: the directory entries and what maker-note decoders
// add for them (a Canon array gives up to 20 entries of its own).
constexpr size_t kMaxTags = 4 * kMaxExifEntries;
// Display texts are cut to this many characters once the text budget is spent.
constexpr size_t kShortText = 50;
constexpr int32_t kMaxListValues = 128;
// A TIFF file's metadata window: its first 256000 bytes from byte 8 when its
// first directory lies there whole, else the directory with the values after
// it and kTiffLead bytes before it for writers that put values first; never
// less than the whole entry table.
constexpr int32_t kTiffReadSize = 256000;
constexpr int32_t kTiffLead = 65536;
// Window positions and lengths stay inside 32 bits (a table of 65535
// entries is 786 KB).
constexpr uint32_t kTiffMaxDirOffset = INT32_MAX - (1 << 21);

std::string DecodeFlash(TImageInfo*, const std::string& Data);
std::string DecodeShutter(TImageInfo*, const std::string& Data);
std::string DecodeComponents(TImageInfo*, const std::string& Data);
std::string DecodeComment(TImageInfo*, const std::string& Data);
std::string DecodeCharList(TImageInfo*, const std::string& Data);
std::string DecodeDegrees(TImageInfo*, const std::string& Data);
std::string DecodeGpsTime(TImageInfo*, const std::string& Data);

TTagEntry R(uint32_t Tag, const char* Name, const char* Caption, const char* ValueNames,
            const char* Pattern, TTagDecoder Decoder) {
  TTagEntry e;
  e.Tag = Tag;
  e.Name = Name;
  e.Caption = *Caption ? Caption : Name;
  e.ValueNames = ValueNames;
  e.Pattern = Pattern;
  e.Decoder = Decoder;
  return e;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && Lower(a) == Lower(b);
}

std::string Num(int64_t v) { return std::to_string(v); }

}  // namespace

const std::vector<TTagEntry>& ExifTagTable() {
  static const std::vector<TTagEntry> table = {
#include "exif_rows.inc"
      R(0, "Unknown", "", "", "", nullptr),
  };
  return table;
}

const std::vector<TTagEntry>& GpsTagTable() {
  static const std::vector<TTagEntry> table = {
#include "gps_rows.inc"
  };
  return table;
}

int32_t ExifFormatSize(uint32_t Format) {
  static const int32_t sizes[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
  return Format <= 12 ? sizes[Format] : 0;
}

namespace {

// snprintf under the C locale: display texts use "." whatever locale the
// application set.
std::string FormatC(const char* Pattern, double Value) {
  static locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr));
  locale_t old = cLocale ? uselocale(cLocale) : static_cast<locale_t>(nullptr);
  char buf[400];
  std::snprintf(buf, sizeof buf, Pattern, Value);
  if (cLocale) uselocale(old);
  return buf;
}

// |Value| with Precision decimals, the last one rounded half away from zero
// on the 15 significant digits that a double holds faithfully: 2.25 gives
// "2.3" where printf's binary rounding gives "2.2", and 0.35 (stored as
// 0.34999...) gives "0.4". Negative is set when a non-zero result needs a sign.
std::string FixedHalfAway(double Value, int Precision, bool* Negative) {
  std::string e = FormatC("%.14e", std::fabs(Value));  // d.dddddddddddddde+XX
  std::string digits = e.substr(0, 1) + e.substr(2, 14);
  const int exponent = std::atoi(e.c_str() + e.find('e') + 1);
  // The digits before the point, then every digit after it.
  std::string whole, frac;
  const int point = exponent + 1;
  if (point <= 0) {
    whole = "0";
    frac = std::string(static_cast<size_t>(-point), '0') + digits;
  } else if (point >= static_cast<int>(digits.size())) {
    whole = digits + std::string(static_cast<size_t>(point) - digits.size(), '0');
  } else {
    whole = digits.substr(0, static_cast<size_t>(point));
    frac = digits.substr(static_cast<size_t>(point));
  }
  frac.resize(static_cast<size_t>(Precision) + 1, '0');
  const bool up = frac.back() >= '5';
  frac.pop_back();
  std::string all = whole + frac;
  if (up) {
    size_t i = all.size();
    while (i > 0 && all[i - 1] == '9') all[--i] = '0';
    if (i == 0) all.insert(all.begin(), '1');
    else ++all[i - 1];
  }
  *Negative = std::signbit(Value) && all.find_first_not_of('0') != std::string::npos;
  const size_t intLen = all.size() - static_cast<size_t>(Precision);
  std::string out = all.substr(0, intLen);
  // Leading zeros of the whole part go, one stays.
  size_t lead = 0;
  while (lead + 1 < out.size() && out[lead] == '0') ++lead;
  out.erase(0, lead);
  if (Precision > 0) out += "." + all.substr(intLen);
  return out;
}

}  // namespace

std::string ExifFormatFloat(const char* Pattern, double Value) {
  const std::string p = Pattern;
  const size_t pct = p.find('%');
  if (pct == std::string::npos || !std::isfinite(Value)) return FormatC(Pattern, Value);
  size_t i = pct + 1;
  bool left = false, zero = false;
  while (i < p.size() && std::strchr("-0", p[i])) (p[i++] == '-' ? left : zero) = true;
  int width = 0, precision = 6;
  while (i < p.size() && std::isdigit(static_cast<unsigned char>(p[i])) && width < 100) width = width * 10 + (p[i++] - '0');
  if (i < p.size() && p[i] == '.') {
    precision = 0;
    ++i;
    while (i < p.size() && std::isdigit(static_cast<unsigned char>(p[i])) && precision < 100)
      precision = precision * 10 + (p[i++] - '0');
  }
  if (i >= p.size() || p[i] != 'f' || p.find('%', i) != std::string::npos) return FormatC(Pattern, Value);
  bool negative = false;
  std::string number = FixedHalfAway(Value, precision, &negative);
  const size_t len = number.size() + (negative ? 1 : 0);
  if (static_cast<size_t>(width) > len && zero && !left) number.insert(0, static_cast<size_t>(width) - len, '0');
  if (negative) number.insert(0, "-");
  if (static_cast<size_t>(width) > number.size()) {
    if (left) number.append(static_cast<size_t>(width) - number.size(), ' ');
    else number.insert(0, static_cast<size_t>(width) - number.size(), ' ');
  }
  return p.substr(0, pct) + number + p.substr(i + 1);
}

std::string ExifTrim(const std::string& S) {
  size_t b = 0, e = S.size();
  while (b < e && static_cast<unsigned char>(S[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(S[e - 1]) <= ' ') --e;
  return S.substr(b, e - b);
}

double ExifValueToFloat(const std::string& Item) {
  std::string s = ExifTrim(Item);
  size_t slash = s.find('/');
  auto parse = [](const std::string& t) {
    try {
      size_t used = 0;
      double v = std::stod(t, &used);
      return std::isfinite(v) ? v : 0.0;
    } catch (const std::exception&) {
      return 0.0;
    }
  };
  if (slash == std::string::npos) return parse(s);
  double n = parse(s.substr(0, slash)), d = parse(s.substr(slash + 1));
  return d == 0 ? 0.0 : n / d;
}

std::vector<std::string> ExifSplitList(const std::string& List, char Sep) {
  std::vector<std::string> out;
  size_t start = 0;
  while (true) {
    size_t p = List.find(Sep, start);
    out.push_back(ExifTrim(List.substr(start, p == std::string::npos ? std::string::npos : p - start)));
    if (p == std::string::npos) break;
    start = p + 1;
  }
  return out;
}

std::string ExifValueName(const std::string& ValueNames, int64_t Value, bool* Found) {
  *Found = false;
  for (const std::string& pair : ExifSplitList(ValueNames, ',')) {
    size_t colon = pair.find(':');
    if (colon == std::string::npos) continue;
    std::string n = ExifTrim(pair.substr(0, colon));
    if (n.empty() || n.size() > 18) continue;
    char* end = nullptr;
    long long v = std::strtoll(n.c_str(), &end, 10);
    if (*end != 0 || v != Value) continue;
    *Found = true;
    return pair.substr(colon + 1);
  }
  return "";
}

std::string ExifPrintable(const std::string& S) {
  std::string out = S.substr(0, 50);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 32) c = '.';
  return out;
}

namespace {

std::string DecodeFlash(TImageInfo*, const std::string& Data) {
  double f = ExifValueToFloat(ExifSplitList(Data, ',')[0]);
  int64_t v = f > -9.2e18 && f < 9.2e18 ? static_cast<int64_t>(f) : 0;
  std::string s = (v & 1) ? "On" : "Off";
  switch (v & 6) {
    case 2: s += ", UNKNOWN"; break;
    case 4: s += ", no strobe return"; break;
    case 6: s += ", strobe return"; break;
  }
  switch (v & 24) {
    case 8: s += ", forced"; break;
    case 16: s += ", surpressed"; break;
    case 24: s += ", auto mode"; break;
  }
  if (v & 32) s += ", no flash function";
  if (v & 64) s += ", red-eye reduction";
  return s;
}

std::string DecodeShutter(TImageInfo*, const std::string& Data) {
  double v = ExifValueToFloat(ExifSplitList(Data, ',')[0]);
  // Beyond these the power is 0 or infinite and says nothing about a shutter.
  v = std::clamp(v, -60.0, 60.0);
  double t = std::pow(2.0, -v);
  std::string s = ExifFormatFloat("%4.4f sec", t);
  if (t <= 0.5) s += " (1/" + Num(std::llrint(1.0 / t)) + ")";
  return s;
}

std::string DecodeComponents(TImageInfo*, const std::string& Data) {
  // The display text of the undefined value: the bytes in double quotes, up to
  // the first zero byte (an unused fourth component).
  static const char* names[7] = {"", "Y", "Cb", "Cr", "R", "G", "B"};
  std::string s;
  for (char c : Data) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b >= 1 && b <= 6) s += names[b];
  }
  return s;
}

std::string DecodeComment(TImageInfo*, const std::string& Data) {
  return Data.size() > 8 ? Data.substr(8) : std::string();
}

std::string DecodeCharList(TImageInfo*, const std::string& Data) {
  std::vector<std::string> items = ExifSplitList(Data, ',');
  std::string s;
  for (size_t i = 0; i < items.size(); i += 2) {
    long v = std::lround(ExifValueToFloat(items[i]));
    if (v > 0 && v < 256) s += static_cast<char>(v);
  }
  return s;
}

std::string DecodeDegrees(TImageInfo*, const std::string& Data) {
  std::vector<std::string> items = ExifSplitList(Data, ',');
  items.resize(3);
  double d = ExifValueToFloat(items[0]), m = ExifValueToFloat(items[1]), s = ExifValueToFloat(items[2]);
  if (s == 0) {
    double whole = std::trunc(m);
    s = (m - whole) * 100 * 0.6;
    m = whole;
  }
  return ExifFormatFloat("%0.0f Degrees ", d) + ExifFormatFloat("%0.0f Minutes ", m) +
         ExifFormatFloat("%0.0f Seconds", s);
}

std::string DecodeGpsTime(TImageInfo*, const std::string& Data) {
  std::vector<std::string> items = ExifSplitList(Data, ',');
  items.resize(3);
  return ExifFormatFloat("%0.0f:", ExifValueToFloat(items[0])) +
         ExifFormatFloat("%0.0f:", ExifValueToFloat(items[1])) +
         ExifFormatFloat("%0.0f", ExifValueToFloat(items[2]));
}

}  // namespace

// ---------------------------------------------------------------- TImageInfo

TImageInfo::TImageInfo(TimgData* Owner_, int32_t ListMode_) : Owner(Owner_), ListMode(ListMode_) {
  Tags.reserve(25);
}

int32_t TImageInfo::LookupTagIndex(const std::string& Name) const {
  for (size_t i = 0; i < Tags.size(); ++i)
    if (SameText(Tags[i].Name, Name)) return static_cast<int32_t>(i);
  return -1;
}

std::string TImageInfo::LookupTagValue(const std::string& Name) const {
  int32_t i = LookupTagIndex(Name);
  return i < 0 ? std::string() : Tags[i].Data;
}

namespace {

uint32_t RawGet(const std::string& Raw, size_t Pos, int Bytes, bool Big) {
  if (Pos + Bytes > Raw.size()) return 0;
  uint32_t v = 0;
  for (int k = 0; k < Bytes; ++k) {
    uint32_t b = static_cast<unsigned char>(Raw[Pos + (Big ? k : Bytes - 1 - k)]);
    v = (v << 8) | b;
  }
  return v;
}

// Value Index of a numeric value of Format in Raw, as a number.
double RawNumber(const std::string& Raw, uint32_t Format, size_t Index, bool Big) {
  size_t sz = ExifFormatSize(Format), p = Index * sz;
  switch (Format) {
    case 1: case 2: case 7: return RawGet(Raw, p, 1, Big);
    case 6: return static_cast<int8_t>(RawGet(Raw, p, 1, Big));
    case 3: return RawGet(Raw, p, 2, Big);
    case 8: return static_cast<int16_t>(RawGet(Raw, p, 2, Big));
    case 4: return RawGet(Raw, p, 4, Big);
    case 9: return static_cast<int32_t>(RawGet(Raw, p, 4, Big));
    case 5: case 10: {
      double n = Format == 5 ? double(RawGet(Raw, p, 4, Big)) : double(int32_t(RawGet(Raw, p, 4, Big)));
      double d = Format == 5 ? double(RawGet(Raw, p + 4, 4, Big)) : double(int32_t(RawGet(Raw, p + 4, 4, Big)));
      return d == 0 ? 0.0 : n / d;
    }
    case 11: {
      uint32_t u = RawGet(Raw, p, 4, Big);
      float f;
      std::memcpy(&f, &u, 4);
      return std::isfinite(f) ? f : 0.0;
    }
    case 12: {
      uint64_t u = (uint64_t(RawGet(Raw, p, 4, Big)) << 32) | RawGet(Raw, p + 4, 4, Big);
      if (!Big) u = (uint64_t(RawGet(Raw, p + 4, 4, Big)) << 32) | RawGet(Raw, p, 4, Big);
      double d;
      std::memcpy(&d, &u, 8);
      return std::isfinite(d) ? d : 0.0;
    }
  }
  return 0;
}

// A value of the file as a 32-bit field, saturated: the file may hold any
// unsigned 32-bit number where a width is expected.
int32_t ClampInt32(double v) {
  if (!(v > -2147483648.0)) return v != v ? 0 : INT32_MIN;
  if (v >= 2147483647.0) return INT32_MAX;
  return static_cast<int32_t>(v);
}

}  // namespace

double TImageInfo::LookupTagFloat(const std::string& Name) const {
  int32_t i = LookupTagIndex(Name);
  if (i < 0) return 0;
  const TTagEntry& e = Tags[i];
  if (e.Raw.empty() || ExifFormatSize(e.ValueFormat) == 0 || e.ValueFormat == 2)
    return ExifValueToFloat(ExifSplitList(e.Data, ',')[0]);
  return RawNumber(e.Raw, e.ValueFormat, 0, BigEndian);
}

int64_t TImageInfo::LookupTagInt(const std::string& Name) const {
  double v = LookupTagFloat(Name);
  if (!(v > -9.2e18 && v < 9.2e18)) return 0;
  return static_cast<int64_t>(std::trunc(v));
}

bool TImageInfo::InBlock(int64_t Pos, int64_t Count) const {
  return Block && Pos >= 0 && Count >= 0 && Pos <= static_cast<int64_t>(Block->size()) &&
         Count <= static_cast<int64_t>(Block->size()) - Pos;
}

uint32_t TImageInfo::Get16(int64_t Pos) const {
  return InBlock(Pos, 2) ? RawGet(*Block, static_cast<size_t>(Pos), 2, BigEndian) : 0;
}

uint32_t TImageInfo::Get32(int64_t Pos) const {
  return InBlock(Pos, 4) ? RawGet(*Block, static_cast<size_t>(Pos), 4, BigEndian) : 0;
}

void TImageInfo::AttachBlock(std::string* B) {
  Block = B;
  const int64_t size = B ? static_cast<int64_t>(B->size()) : 0;
  rawLeft_ = 4 * size;
  // Texts made from a small block may be longer than the block (a Canon
  // array becomes named lines), hence the floor.
  textLeft_ = 4 * size + 65536;
}

bool TImageInfo::TakeEntry() {
  if (entriesLeft_ <= 0) return false;
  --entriesLeft_;
  return true;
}

int64_t TImageInfo::ValueViewLength(int64_t Count) const {
  return Count <= rawLeft_ ? Count : std::min(Count, kValueView);
}

void TImageInfo::AddTag(TTagEntry Entry) {
  if (Tags.size() >= kMaxTags) return;
  // Overlapping directories can name the same value bytes again and again;
  // what the block holds once is kept at most four times over.
  if (static_cast<int64_t>(Entry.Raw.size()) > rawLeft_) Entry.Raw.clear();
  rawLeft_ -= static_cast<int64_t>(Entry.Raw.size());
  if (Entry.Data.size() > kShortText && static_cast<int64_t>(Entry.Data.size()) > textLeft_)
    Entry.Data.resize(kShortText);
  textLeft_ -= static_cast<int64_t>(Entry.Data.size());
  Tags.push_back(std::move(Entry));
}

std::string TImageInfo::MakeDataText(const TTagEntry& Row, uint32_t Format, const std::string& Raw) const {
  if (Format == 2) {
    std::string s = Raw;
    if (!s.empty() && s.back() == 0) s.pop_back();
    return s;
  }
  if (Format == 7) {
    size_t z = Raw.find('\0');
    return "\"" + Raw.substr(0, z) + "\"";
  }
  int32_t sz = ExifFormatSize(Format);
  if (sz == 0) return "0";
  bool named = gExifDecodeValues && !Row.ValueNames.empty();
  size_t n = std::min<size_t>(Raw.size() / sz, kMaxListValues);
  std::string list;
  for (size_t i = 0; i < n; ++i) {
    if (i) list += ", ";
    size_t p = i * sz;
    switch (Format) {
      case 1: case 3: case 4: case 6: case 8: case 9: {
        int64_t v = static_cast<int64_t>(RawNumber(Raw, Format, i, BigEndian));
        bool found = false;
        std::string name = named ? ExifValueName(Row.ValueNames, v, &found) : std::string();
        list += found ? name : Num(v);
        break;
      }
      case 5:
        // Unsigned rationals stay unsigned: a numerator above 2^31 is no negative.
        list += Num(RawGet(Raw, p, 4, BigEndian)) + "/" + Num(RawGet(Raw, p + 4, 4, BigEndian));
        break;
      case 10:
        list += Num(int32_t(RawGet(Raw, p, 4, BigEndian))) + "/" + Num(int32_t(RawGet(Raw, p + 4, 4, BigEndian)));
        break;
      case 11: case 12:
        list += ExifFormatFloat("%g", RawNumber(Raw, Format, i, BigEndian));
        break;
      default:
        list += "?";
    }
  }
  if (!Row.Pattern.empty() && gExifDecodeValues) {
    size_t ps = Row.Pattern.find("%s");
    if (ps != std::string::npos) return Row.Pattern.substr(0, ps) + list + Row.Pattern.substr(ps + 2);
    return ExifFormatFloat(Row.Pattern.c_str(), n ? RawNumber(Raw, Format, 0, BigEndian) : 0.0);
  }
  return list;
}

void TImageInfo::ParseExifDirectory(int32_t DirStart, int32_t OffsetBase_, int32_t ExifLength,
                                    int32_t Level, const std::string& Prefix) {
  (void)Prefix;  // only the trace listing, which is not built, used it
  if (!Block) return;
  visited_.insert("[" + Num(OffsetBase_) + ":" + Num(DirStart) + "]");
  if (++dirsParsed_ > kMaxDirectories) return;
  // The block ends at ExifLength or where the bytes held end, whichever is first.
  int64_t end = std::min<int64_t>(Block->size(), std::max<int64_t>(0, int64_t(OffsetBase_) + ExifLength));
  if (!InBlock(DirStart, 2)) {
    if (Owner) Owner->ErrorText = "Illegally sized directory";
    return;
  }
  int64_t n = Get16(DirStart);
  if (int64_t(DirStart) + 2 + 12 * n > end) {
    if (Owner) Owner->ErrorText = "Illegally sized directory";
    return;
  }
  int64_t after = int64_t(DirStart) + 2 + 12 * n;
  if (Level == 1 && NextDirOffset == 0 && !FromTiff && InBlock(after, 4)) {
    NextDirOffset = Get32(after);
    NextDirLength = std::max<int64_t>(0, end - (NextDirOffset + OffsetBase_));
  }
  const bool listing = ListMode == 2 || ListMode == 255;
  for (int64_t i = 0; i < n && TakeEntry(); ++i) {
    int64_t e = int64_t(DirStart) + 2 + 12 * i;
    uint32_t tag = Get16(e), format = Get16(e + 2), count = Get32(e + 4);
    int64_t byteCount = int64_t(ExifFormatSize(format)) * count;
    if (byteCount == 0) continue;
    int64_t valuePos = byteCount <= 4 ? e + 8 : int64_t(Get32(e + 8)) + OffsetBase_;
    if (valuePos < 0 || valuePos > end || byteCount > end - valuePos) continue;
    // Past the raw budget only the start of a long value is looked at, so
    // a value named again and again costs little each time.
    const int64_t viewed = ValueViewLength(byteCount);
    std::string raw = Block->substr(static_cast<size_t>(valuePos), static_cast<size_t>(viewed));
    TTagEntry row;
    if (listing) {
      const std::vector<TTagEntry>& table = Level == 2 ? GpsTagTable() : ExifTagTable();
      size_t rows = Level == 2 ? table.size() : table.size() - 1;
      // A tag missing from the table is listed under the closing "Unknown" row.
      row = ExifTagTable().back();
      for (size_t r = 0; r < rows; ++r)
        if (table[r].Tag == tag) { row = table[r]; break; }
      std::string data = MakeDataText(row, format, raw);
      if (row.Decoder && gExifDecodeValues)
        row.Data = row.Decoder(this, data);
      else
        row.Data = ExifPrintable(data);
    }
    if (tag == 0x9286 && viewed == byteCount) {
      CommentText = ExifTrim(raw.size() > 8 ? raw.substr(8) : std::string());
      row.Data = CommentText;
      CommentPos = static_cast<int32_t>(valuePos);
      CommentSize = static_cast<int32_t>(byteCount);
    }
    auto follow = [&](int32_t level) {
      int64_t target = int64_t(Get32(valuePos)) + OffsetBase_;
      if (format == 3) target = int64_t(Get16(valuePos)) + OffsetBase_;
      if (target < 0 || target > INT32_MAX) return;
      if (visited_.count("[" + Num(OffsetBase_) + ":" + Num(target) + "]")) return;
      try {
        std::string saved = Owner ? Owner->ErrorText : std::string();
        ParseExifDirectory(static_cast<int32_t>(target), OffsetBase_, ExifLength, level, Prefix);
        // A broken sub-directory does not spoil the block that pointed at it.
        if (Owner) Owner->ErrorText = saved;
      } catch (const std::exception&) {
      }
    };
    std::string text = listing ? row.Data : MakeDataText(row, format, raw);
    switch (tag) {
      case 0x8769: case 0x014A: case 0xA005: follow(1); break;
      case 0x8825: follow(2); break;
      case 0x010F: MakeText = text.substr(0, 32); break;
      case 0x0110: ModelText = text.substr(0, 40); break;
      case 0x0132:
        if (PhotoDate.empty()) PhotoDate = text.substr(0, 20);
        DateTimePos = static_cast<int32_t>(valuePos);
        break;
      case 0x9003:
        PhotoDate = text.substr(0, 20);
        DateTimeOriginalPos = static_cast<int32_t>(valuePos);
        break;
      case 0x9004: DateTimeDigitizedPos = static_cast<int32_t>(valuePos); break;
      case 0x9000: ExifVersion = raw.substr(0, 6); break;
      case 0x9209: FlashValue = ClampInt32(RawNumber(raw, format, 0, BigEndian)); break;
      case 0x0100: case 0xA002:
        Width = ClampInt32(RawNumber(raw, format, 0, BigEndian));
        WidthPos = static_cast<int32_t>(valuePos);
        WidthFormat = format;
        break;
      case 0x0101: case 0xA003:
        Height = ClampInt32(RawNumber(raw, format, 0, BigEndian));
        HeightPos = static_cast<int32_t>(valuePos);
        HeightFormat = format;
        break;
    }
    if (listing && tag != 0) {
      row.ValueFormat = format;
      row.Tag = tag;
      if (viewed == byteCount) row.Raw = std::move(raw);  // never a part of a value
      row.ValuePos = static_cast<int32_t>(valuePos);
      row.Size = static_cast<int32_t>(byteCount);
      AddTag(row);
    }
    if (tag == 0x927C && !makerNoteDone_) {
      makerNoteDone_ = true;
      MakerNoteBytes = Block->substr(static_cast<size_t>(valuePos), static_cast<size_t>(byteCount));
      MakerNotePos = static_cast<int32_t>(valuePos);
      TmsInfo ms(this);
      ms.DecodeMakerNote(this);
    }
  }
}

void TImageInfo::Compute35mm() {
  if (LookupTagIndex("FocalLengthin35mmFilm") >= 0) return;
  int64_t unitCode = LookupTagIndex("FocalPlaneResolutionUnit") >= 0 ? LookupTagInt("FocalPlaneResolutionUnit")
                                                                      : LookupTagInt("ResolutionUnit");
  double unit;
  if (unitCode == 2) unit = 25.4;
  else if (unitCode == 3) unit = 10;
  else return;
  double focal = LookupTagFloat("FocalLength");
  if (focal == 0) return;
  double w = 0, h = 0;
  double xr = LookupTagFloat("FocalPlaneXResolution"), yr = LookupTagFloat("FocalPlaneYResolution");
  if (xr > 0) w = Width * unit / xr;
  if (yr > 0) h = Height * unit / yr;
  if (!(w * h > 0)) return;
  double factor = 43.26661531 / std::sqrt(w * w + h * h);
  for (const TTagEntry& row : ExifTagTable()) {
    if (!SameText(row.Name, "FocalLengthin35mmFilm")) continue;
    TTagEntry e = row;
    e.Data = ExifFormatFloat("%5.2f", focal * factor);
    e.Pattern = "%s mm";
    AddTag(e);
    return;
  }
}

void TImageInfo::PatchExifSize(int32_t NewHeight, int32_t NewWidth) {
  if (!Owner || !Owner->ExifSection || Block != &Owner->ExifSection->Data) return;
  if (Width < 1 || Height < 1 || (Width == NewWidth && Height == NewHeight)) return;
  if (NewWidth < 1 || NewHeight < 1) return;
  auto put = [&](int32_t pos, uint32_t format, uint32_t v) {
    // A 16-bit field gets a 16-bit write: four bytes would put the value in
    // the padding of a big-endian entry and zero the field itself.
    int bytes = format == 3 || format == 8 ? 2 : 4;
    if (bytes == 2 && v > 0xFFFF) return;
    if (!InBlock(pos, bytes)) return;
    for (int k = 0; k < bytes; ++k) {
      int shift = 8 * (BigEndian ? bytes - 1 - k : k);
      (*Block)[pos + k] = static_cast<char>((v >> shift) & 0xFF);
    }
  };
  put(HeightPos, HeightFormat, static_cast<uint32_t>(NewHeight));
  put(WidthPos, WidthFormat, static_cast<uint32_t>(NewWidth));
  Height = NewHeight;
  Width = NewWidth;
}

// ---------------------------------------------------------------- TimgData

TimgData::TimgData(int32_t ListMode_) : ListMode(ListMode_) {}

TimgData::~TimgData() = default;

void TimgData::Clear() {
  for (TSection& s : Sections) s = TSection();
  SectionCount = 0;
  ExifSection = IptcSection = CommentSection = JfifSection = nullptr;
  FileName.clear();
  FileDate = 0;
  FileSize = 0;
  ErrorText.clear();
  ExifInfo.reset();
  IptcInfo.reset();
  BigEndian = false;
  FromTiff = false;
}

bool TimgData::LoadMetadata(const std::string& Name) {
  Clear();
  struct stat st;
  if (::stat(Name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  FileName = Name;
  FileDate = st.st_mtime;
  FileSize = st.st_size;
  ErrorText = "Not an EXIF file";
  size_t dot = Name.find_last_of('.');
  size_t slash = Name.find_last_of('/');
  std::string ext = dot == std::string::npos || (slash != std::string::npos && dot < slash) ? "" : Lower(Name.substr(dot));
  try {
    bool ok;
    if (ext == ".jpg" || ext == ".jpeg" || ext == ".jpe") {
      TFileStream f(Name, TFileMode::fmOpenRead);
      ok = ReadJpegSegments(f);
    } else if (ext == ".tif" || ext == ".tiff" || ext == ".nef") {
      TFileStream f(Name, TFileMode::fmOpenRead);
      FromTiff = true;
      ok = ReadTiffMetadata(f);
      FromTiff = false;
    } else {
      return false;
    }
    if (!ok) return false;
    // A header or directory error found on the way stays visible: the
    // segments were read, but the block was not.
    if (ErrorText == "Not an EXIF file") ErrorText = "<none>";
    return true;
  } catch (const std::exception&) {
    FromTiff = false;
    ErrorText = "Illegal Exif construction";
    return false;
  }
}

void TimgData::ParseExifHeader(TSection& S) {
  const std::string& d = S.Data;
  if (d.size() < 6 || d.compare(2, 4, "Exif") != 0) {
    ErrorText = "Incorrect Exif header";
    return;
  }
  if (d.size() >= 10 && d.compare(8, 2, "II") == 0) BigEndian = false;
  else if (d.size() >= 10 && d.compare(8, 2, "MM") == 0) BigEndian = true;
  else {
    ErrorText = "Invalid Exif alignment marker";
    return;
  }
  ExifInfo->BigEndian = BigEndian;
  ExifInfo->AttachBlock(&S.Data);
  ExifInfo->OffsetBase = 8;
  uint32_t off = ExifInfo->Get32(12);
  int64_t start = off == 0 ? 16 : int64_t(off) + 8;
  if (start > INT32_MAX) start = INT32_MAX;
  ExifInfo->ParseExifDirectory(static_cast<int32_t>(start), 8, static_cast<int32_t>(S.Size) - 8, 1, "");
  ExifInfo->Compute35mm();
}

bool TimgData::ReadJpegSegments(TStream& Stream) {
  uint8_t soi[2];
  if (Stream.Read(soi, 2) != 2 || soi[0] != 0xFF || soi[1] != 0xD8) return false;
  while (SectionCount < kMaxSections) {
    uint8_t b = 0xFF;
    // Any run of fill bytes before the marker.
    while (b == 0xFF)
      if (Stream.Read(&b, 1) != 1) goto done;
    {
      uint32_t marker = b;
      if (marker == 0xD9 || marker == 0xDA) break;
      uint8_t len[2];
      if (Stream.Read(len, 2) != 2) break;
      uint32_t L = (uint32_t(len[0]) << 8) | len[1];
      if (L < 2) break;  // no length can be shorter than its own two bytes
      TSection& s = Sections[SectionCount];
      s.Marker = marker;
      s.Size = L;
      s.Data.assign(reinterpret_cast<char*>(len), 2);
      s.Data.resize(L);
      size_t got = Stream.Read(&s.Data[2], L - 2);
      if (got < L - 2) {
        // A segment cut off by the end of the file is not kept: writing it
        // back would give a segment whose length runs into the image.
        s = TSection();
        break;
      }
      ++SectionCount;
      switch (marker) {
        case 0xE1:
          if (SectionCount < 6 && !ExifSection) {
            ExifSection = &s;
            ExifInfo = std::make_unique<TImageInfo>(this, ListMode);
            ParseExifHeader(s);
          } else {
            s = TSection();
            --SectionCount;
          }
          break;
        case 0xED:
          if (!IptcSection) {
            IptcSection = &s;
            IptcInfo = std::make_unique<TIPTCdata>(this);
          }
          break;
        case 0xFE: CommentSection = &s; break;
        case 0xE0: JfifSection = &s; break;
      }
      if (SectionCount == 5 && !ExifSection && !IptcSection && !CommentSection) break;
    }
  }
done:
  return ExifSection || IptcSection || CommentSection;
}

bool TimgData::ReadTiffMetadata(TStream& Stream) {
  uint8_t head[8];
  if (ReadUpTo(Stream, head, 2) != 2) return false;
  bool big;
  if (head[0] == 'I' && head[1] == 'I') big = false;
  else if (head[0] == 'M' && head[1] == 'M') big = true;
  else return false;
  const bool whole = ReadUpTo(Stream, head + 2, 6) == 6;
  const int64_t fileSize = Stream.Size();
  // The first directory sits where the header says: common tools put it
  // after the image data. The window read holds the file's first bytes when
  // the directory starts among them, else the bytes around the directory;
  // a value outside the window is skipped like one outside the file.
  const uint32_t first = whole ? RawGet(std::string(reinterpret_cast<char*>(head + 4), 4), 0, 4, big) : 0;
  const bool found = first >= 8 && int64_t(first) < fileSize && first <= kTiffMaxDirOffset;
  // Where the directory's entry table ends, from its entry count.
  int64_t dirEnd = int64_t(first) + 2;
  uint8_t count[2];
  if (found && (Stream.SetPosition(first), ReadUpTo(Stream, count, 2) == 2))
    dirEnd += 12 * int64_t(big ? count[0] << 8 | count[1] : count[1] << 8 | count[0]) + 4;
  int64_t start = 8;
  if (found && dirEnd > 8 + int64_t(kTiffReadSize)) start = std::max<int64_t>(8, int64_t(first) - kTiffLead);
  const int64_t length = std::min(std::max<int64_t>(kTiffReadSize, dirEnd - start), std::max<int64_t>(fileSize - start, 0));
  TSection& s = Sections[0];
  size_t n = 0;
  if (found) {
    Stream.SetPosition(start);
    s.Data.resize(static_cast<size_t>(length));
    n = ReadUpTo(Stream, s.Data.data(), s.Data.size());
  }
  s.Data.resize(n);
  s.Size = static_cast<uint32_t>(n);
  SectionCount = 1;
  BigEndian = big;
  ExifInfo = std::make_unique<TImageInfo>(this, ListMode);
  ExifInfo->FromTiff = true;
  ExifInfo->BigEndian = big;
  ExifInfo->AttachBlock(&s.Data);
  // File offset X is index X - start of the window.
  ExifInfo->OffsetBase = static_cast<int32_t>(-start);
  if (found && int64_t(first) - start < int64_t(n))
    ExifInfo->ParseExifDirectory(static_cast<int32_t>(first - start), static_cast<int32_t>(-start),
                                 static_cast<int32_t>(start + int64_t(n)), 1, "");
  ExifInfo->Compute35mm();
  return true;
}

std::string TimgData::ExifSummaryText() const {
  if (!ExifSection) return "";
  const std::string crlf = "\r\n";
  size_t slash = FileName.find_last_of('/');
  std::string name = slash == std::string::npos ? FileName : FileName.substr(slash + 1);
  if (ErrorText != "<none>") return "File Name: " + name + crlf + "Exif Error: " + ErrorText;
  char date[64] = "";
  std::tm tmv{};
  std::time_t t = FileDate;
  if (localtime_r(&t, &tmv)) std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &tmv);
  const TImageInfo* info = ExifInfo.get();
  std::string s = "File Name: " + name + crlf + "File Size: " + Num(FileSize / 1024) + "k" + crlf +
                  "File Date: " + date + crlf;
  if (info) {
    s += "Photo Date: " + info->PhotoDate + crlf + "Make (Model): " + info->MakeText + " (" + info->ModelText +
         ")" + crlf + "Dimensions: " + Num(info->Width) + " x " + Num(info->Height) + crlf;
    if (ListMode == 2 || ListMode == 255) {
      auto line = [&](const char* caption, const std::string& v) {
        if (!v.empty()) s += caption + v + crlf;
      };
      std::string exposure = info->LookupTagValue("ExposureTime");
      line("Exposure Time: ", exposure.empty() ? info->LookupTagValue("ShutterSpeedValue") : exposure);
      line("Focal Length: ", info->LookupTagValue("FocalLength"));
      line("Focal Length (35mm): ", info->LookupTagValue("FocalLengthin35mmFilm"));
      line("FNumber: ", info->LookupTagValue("FNumber"));
      line("ISO: ", info->LookupTagValue("ISOSpeedRatings"));
    }
  }
  s += std::string("Flash: ") + ((info && (info->FlashValue & 1)) ? "Yes" : "No");
  return s;
}
