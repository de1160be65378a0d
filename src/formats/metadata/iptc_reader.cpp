#include "iptc_reader.h"

#include <algorithm>
#include <cctype>
#include <unordered_map>
#include <unordered_set>

namespace {

TTagEntry R(uint32_t Record, uint32_t Dataset, const char* Name, const char* Caption) {
  TTagEntry e;
  e.ValueFormat = Record << 16;
  e.Tag = Dataset;
  e.Name = Name;
  e.Caption = Caption;
  return e;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

const TTagEntry* TableRow(const std::string& Name) {
  for (const TTagEntry& r : IptcTagTable())
    if (SameText(r.Name, Name)) return &r;
  return nullptr;
}

// Lines of a text, split at CR, LF or CR LF.
std::vector<std::string> Lines(const std::string& S) {
  std::vector<std::string> out;
  std::string cur;
  for (size_t i = 0; i < S.size(); ++i) {
    if (S[i] == '\r' || S[i] == '\n') {
      out.push_back(cur);
      cur.clear();
      if (S[i] == '\r' && i + 1 < S.size() && S[i + 1] == '\n') ++i;
    } else {
      cur += S[i];
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

}  // namespace

const std::vector<TTagEntry>& IptcTagTable() {
  static const std::vector<TTagEntry> table = {
      R(2, 0, "SKIP", "Record Version"),
      R(2, 3, "ObjectType", "Object Type Ref"),
      R(2, 4, "ObjectAttr", "Object Attribute Ref"),
      R(2, 5, "ObjectName", "Object name"),
      R(2, 7, "EditStatus", "Edit Status"),
      R(2, 8, "EditorialUpdate", "Editorial Update"),
      R(2, 10, "Urgency", "Urgency"),
      R(2, 12, "SubRef", "Subject Reference"),
      R(2, 15, "Category", "Category"),
      R(2, 20, "SuppCategory", "Supplemental category"),
      R(2, 22, "FixtureID", "Fixture ID"),
      R(2, 25, "Keywords", "Keywords"),
      R(2, 26, "ContentLocCode", "Content Location ValueNames"),
      R(2, 27, "ContentLocName", "Content Location Name"),
      R(2, 30, "ReleaseDate", "Release Date"),
      R(2, 35, "ReleaseTime", "Release Time"),
      R(2, 37, "ExpireDate", "Expiration Date"),
      R(2, 38, "ExpireTime", "Expiration Time"),
      R(2, 40, "SpecialInstru", "Special Instructions"),
      R(2, 42, "ActionAdvised", "Action Advised"),
      R(2, 45, "RefService", "Reference Service"),
      R(2, 47, "RefDate", "Reference Date"),
      R(2, 50, "RefNumber", "Reference Number"),
      R(2, 55, "DateCreated", "Date created"),
      R(2, 60, "TimeCreated", "Time created"),
      R(2, 62, "DigitizeDate", "Digital Creation Date"),
      R(2, 63, "DigitizeTime", "Digital Creation Time"),
      R(2, 65, "OriginatingProgram", "Originating Program"),
      R(2, 70, "ProgramVersion", "Program version"),
      R(2, 75, "ObjectCycle", "Object Cycle"),
      R(2, 80, "ByLine", "ByLine"),
      R(2, 85, "ByLineTitle", "ByLine Title"),
      R(2, 90, "City", "City"),
      R(2, 92, "SubLocation", "Sublocation"),
      R(2, 95, "State", "Province/State"),
      R(2, 100, "LocationCode", "Country/Primary Location ValueNames"),
      R(2, 101, "LocationName", "Country/Primary Location Name"),
      R(2, 103, "TransmissionRef", "Original Transmission Reference"),
      R(2, 105, "ImageHeadline", "Image headline"),
      R(2, 110, "ImageCredit", "Image credit"),
      R(2, 115, "Source", "Source"),
      R(2, 116, "Copyright", "Copyright Notice"),
      R(2, 118, "Contact", "Contact"),
      R(2, 120, "ImageCaption", "Image caption"),
      R(2, 122, "ImageCaptionWriter", "Image caption writer"),
      R(2, 130, "ImageType", "Image type"),
      R(2, 131, "Orientation", "Image Orientation"),
      R(2, 135, "LangID", "Language ID"),
      R(8, 10, "Subfile", "Subfile"),
  };
  return table;
}

TIPTCdata::TIPTCdata(TimgData* Owner_) : Owner(Owner_) { Tags.reserve(25); }

int32_t TIPTCdata::LookupTag(const std::string& Name) const {
  for (size_t i = 0; i < Tags.size(); ++i)
    if (SameText(Tags[i].Name, Name)) return static_cast<int32_t>(i);
  return -1;
}

void TIPTCdata::RemoveTag(const std::string& Name) {
  int32_t i = LookupTag(Name);
  if (i >= 0) Tags.erase(Tags.begin() + i);
}

int32_t TIPTCdata::AddOrUpdateTag(const std::string& Name, const std::string& Value) {
  int32_t i = LookupTag(Name);
  if (i >= 0) {
    Tags[i].Data = Value;
    return i;
  }
  const TTagEntry* row = TableRow(Name);
  if (!row) return -1;
  Tags.push_back(*row);
  Tags.back().Data = Value;
  return static_cast<int32_t>(Tags.size()) - 1;
}

void TIPTCdata::AppendToTag(const std::string& Name, const std::string& Value) {
  int32_t i = LookupTag(Name);
  if (i < 0) {
    i = AddOrUpdateTag(Name, "");
    if (i < 0) return;
  }
  std::vector<std::string> lines = Lines(Tags[i].Data);
  for (const std::string& l : Lines(Value)) {
    std::string t = ExifTrim(l);
    if (std::find(lines.begin(), lines.end(), t) == lines.end()) lines.push_back(t);
  }
  std::string data;
  for (const std::string& l : lines) data += l + "\r\n";
  Tags[i].Data = data;
}

int32_t TIPTCdata::UpdateTag(const std::string& Name, const std::string& Value) {
  const TTagEntry* row = TableRow(Name);
  if (!row) return -1;
  if (row->Tag == 20 || row->Tag == 25) {
    AppendToTag(Name, Value);
    return LookupTag(Name);
  }
  return AddOrUpdateTag(Name, Value);
}

std::string TIPTCdata::ReadTagValue(const std::string& Name, const std::string& Default) const {
  int32_t i = LookupTag(Name);
  return i < 0 ? Default : Tags[i].Data;
}

bool TIPTCdata::ReadIptcFile(const std::string& FileName) {
  Tags.clear();
  if (!Owner) return false;
  // The load replaces the owner's IPTC object; when that is this one, it is
  // held here over the load and handed back afterwards instead of freed.
  std::unique_ptr<TIPTCdata> self;
  if (Owner->IptcInfo.get() == this) self = std::move(Owner->IptcInfo);
  Owner->LoadMetadata(FileName);
  if (self) Owner->IptcInfo = std::move(self);
  if (Owner->IptcSection) ParseIptcData(Owner->IptcSection->Data);
  return !Tags.empty();
}

void TIPTCdata::ParseIptcData(const std::string& Data) {
  Tags.clear();
  size_t sig = Data.find("Photoshop 3.0");
  if (sig == std::string::npos) return;
  size_t p = sig + 13;
  // The first dataset of record 2 or 8; p then points at its record byte.
  while (true) {
    p = Data.find('\x1C', p);
    if (p == std::string::npos || p + 1 >= Data.size()) return;
    unsigned char rec = static_cast<unsigned char>(Data[p + 1]);
    ++p;
    if (rec == 2 || rec == 8) break;
  }
  // Repeated datasets merge into one entry, line by line as AppendToTag
  // merges them, with the lines of each entry kept in a set while parsing so
  // that a block of thousands of keywords costs time in proportion to its size.
  struct TMerged {
    std::vector<std::string> Lines;
    std::unordered_set<std::string> Seen;
  };
  std::unordered_map<std::string, size_t> byName;  // lower-case name to entry index
  std::vector<TMerged> merged;
  while (p + 2 < Data.size()) {
    uint32_t rec = static_cast<unsigned char>(Data[p]);
    uint32_t ds = static_cast<unsigned char>(Data[p + 1]);
    size_t len = p + 3 < Data.size()
                     ? (size_t(static_cast<unsigned char>(Data[p + 2])) << 8) | static_cast<unsigned char>(Data[p + 3])
                     : 0;
    size_t start = std::min(p + 4, Data.size());
    const size_t take = std::min(len, Data.size() - start);
    if (rec == 2 || rec == 8) {
      const TTagEntry* row = nullptr;
      for (const TTagEntry& r : IptcTagTable())
        if ((r.ValueFormat >> 16) == rec && r.Tag == ds) { row = &r; break; }
      TTagEntry e;
      if (row) {
        e = *row;
      } else {
        e.Name = "Custom_" + std::to_string(ds);
        e.Caption = e.Name;
        e.Tag = ds;
        e.ValueFormat = rec << 16;
      }
      if (!SameText(e.Name, "SKIP")) {
        // A repeated dataset merges into the entry of its first occurrence
        // rather than leaving a second, empty entry of the same name.
        auto [it, added] = byName.try_emplace(Lower(e.Name), Tags.size());
        if (added) {
          e.Data.clear();
          Tags.push_back(std::move(e));
          merged.emplace_back();
        }
        TMerged& m = merged[it->second];
        for (const std::string& l : Lines(Data.substr(start, take))) {
          std::string t = ExifTrim(l);
          if (m.Seen.insert(t).second) m.Lines.push_back(std::move(t));
        }
      }
    }
    // The next dataset's record byte follows its marker.
    p = start + len + 1;
  }
  for (size_t i = 0; i < Tags.size(); ++i) {
    std::string data;
    for (const std::string& l : merged[i].Lines) data += l + "\r\n";
    Tags[i].Data = std::move(data);
  }
}
