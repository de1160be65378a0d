#include "maker_notes.h"

#include <algorithm>
#include <cctype>
#include <exception>

namespace {

std::string NikonColorMode(TImageInfo*, const std::string& Data);
std::string NikonLens(TImageInfo*, const std::string& Data);
std::string CanonExposure1(TImageInfo* Info, const std::string& Data);
std::string CanonExposure2(TImageInfo* Info, const std::string& Data);
std::string CanonCustom(TImageInfo* Info, const std::string& Data);

TTagEntry R(uint32_t Tag, const char* Name, const char* ValueNames, TTagDecoder Decoder) {
  TTagEntry e;
  e.Tag = Tag;
  e.Name = Name;
  e.Caption = Name;
  e.ValueNames = ValueNames;
  e.Decoder = Decoder;
  return e;
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string NikonColorMode(TImageInfo*, const std::string& Data) {
  // Cameras write the mode with or without a leading character (a quote or
  // a space) and trailing spaces; the five letters decide.
  std::string t = ExifTrim(Data);
  if (!t.empty() && t[0] == '"') t = t.substr(1);
  std::string mode = t.substr(0, 5);
  if (mode == "MODE1") return "Mode1 (sRGB)";
  if (mode == "MODE2") return "Mode 2 (Adobe RGB)";
  if (mode == "MODE3") return "Mode 3 (sRGB): higher saturation";
  return Data;
}

std::string NikonLens(TImageInfo*, const std::string& Data) {
  std::vector<std::string> v = ExifSplitList(Data, ',');
  v.resize(4);
  return ExifFormatFloat("%0.1f-", ExifValueToFloat(v[0])) + ExifFormatFloat("%0.1f(mm)  ", ExifValueToFloat(v[1])) +
         ExifFormatFloat("F%0.1f-", ExifValueToFloat(v[2])) + ExifFormatFloat("F%0.1f", ExifValueToFloat(v[3]));
}

struct TCanonField {
  int Index;
  const char* Name;
  const char* ValueNames;
};

const char* const kLowNormalHigh = "65535:Low,0:Normal,1:High";

// Each field of the array with a value becomes an entry of its own and a
// line of the returned text.
std::string CanonFields(TImageInfo* Info, const std::string& Data, const TCanonField* Fields, size_t Count) {
  std::vector<std::string> v = ExifSplitList(Data, ',');
  std::string text;
  for (size_t i = 0; i < Count; ++i) {
    const TCanonField& f = Fields[i];
    std::string value = f.Index < static_cast<int>(v.size()) ? ExifTrim(v[f.Index]) : std::string();
    if (value.empty()) continue;
    if (*f.ValueNames) {
      bool found = false;
      char* end = nullptr;
      long long n = std::strtoll(value.c_str(), &end, 10);
      std::string name = *end == 0 ? ExifValueName(f.ValueNames, n, &found) : std::string();
      if (found) value = name;
    }
    if (Info) {
      TTagEntry e;
      e.Name = f.Name;
      e.Caption = f.Name;
      e.Data = value;
      Info->AddTag(e);
    }
    text += std::string(f.Name) + " = " + value + "\r\n";
  }
  return text;
}

std::string CanonExposure1(TImageInfo* Info, const std::string& Data) {
  static const TCanonField fields[] = {
      {1, "Macro mode", "1:Macro,2:Normal"},
      {2, "Self Timer", ""},
      {3, "Compression Rate", "0:SuperFine,1:Fine,2:Normal,3:Basic,5:SuperFine"},
      {4, "Flash Mode", "0:Not fired,1:Auto,2:On,3:Red-eye,4:Slow sync,5:Auto+red-eye,6:On+red eye,16:External flash"},
      {5, "Drive Mode", "0:Single,1:Continuous"},
      {7, "Focus Mode", "0:One-Shot,1:AI Servo,2:AI Focus,3:MF,4:Single,5:Continuous,6:MF"},
      {10, "Image Size", "0:Large,1:Medium,2:Small,4:5MPixel,5:2 MPixel,6:1.5 MPixel"},
      {11, "Easy Shoot", "0:Full Auto,1:Manual,2:Landscape,3:Fast Shutter,4:Slow Shutter,5:Night,6:B&W,7:Sepia,8:Portrait,9:Sports,10:Macro/Close-Up,11:Pan Focus"},
      {13, "Contrast", kLowNormalHigh},
      {14, "Saturation", kLowNormalHigh},
      {15, "Sharpness", kLowNormalHigh},
      {16, "CCD ISO", "0:Not used,15:auto,16:50,17:100,18:200,19:400"},
      {17, "Metering Mode", kLowNormalHigh},
      {19, "AF Point", kLowNormalHigh},
      {20, "Exposure Mode", kLowNormalHigh},
      {24, "Long focal", ""},
      {25, "Short focal", ""},
      {26, "Focal Units", ""},
      {29, "Flash Details", ""},
      {32, "Focus Mode", kLowNormalHigh},
  };
  return CanonFields(Info, Data, fields, sizeof fields / sizeof fields[0]);
}

std::string CanonExposure2(TImageInfo* Info, const std::string& Data) {
  static const TCanonField fields[] = {
      {7, "White balance", "0:Auto,1:Sunny,2:Cloudy,3:Tungsten,4:Flourescent,5:Flash,6:Custom"},
      {9, "Sequence Number", ""},
      {11, "OpticalZoom Step", ""},
      {14, "AF point", ""},
      {15, "Flash bias", "65472:-2 EV,65484:-1.67 EV,65488:-1.50 EV,65492:-1.33 EV,65504:-1 EV,65516:-0.67 EV,65520:-0.50 EV,65524:-0.33 EV,0:0 EV,12:0.33 EV,16:0.50 EV,20:0.67 EV,32:1 EV,44:1.33 EV,48:1.50 EV,52:1.67 EV,64:2 EV"},
      {19, "Distance", ""},
  };
  return CanonFields(Info, Data, fields, sizeof fields / sizeof fields[0]);
}

std::string CanonCustom(TImageInfo* Info, const std::string& Data) {
  std::vector<std::string> v = ExifSplitList(Data, ',');
  for (size_t i = 0; i < v.size() && Info; ++i) {
    TTagEntry e;
    e.Name = "CustomFunction" + std::to_string(i);
    e.Caption = e.Name;
    e.Data = v[i];
    Info->AddTag(e);
  }
  return Data;
}

uint32_t GetLE(const std::string& S, int64_t Pos, int Bytes, bool Big) {
  if (Pos < 0 || Pos + Bytes > static_cast<int64_t>(S.size())) return 0;
  uint32_t v = 0;
  for (int k = 0; k < Bytes; ++k) v = (v << 8) | static_cast<unsigned char>(S[Pos + (Big ? k : Bytes - 1 - k)]);
  return v;
}

}  // namespace

const std::vector<TTagEntry>& MakerNoteTable(const std::string& Vendor) {
#include "maker_rows.inc"
  static const std::vector<TTagEntry> none;
  return none;
}

TmsInfo::TmsInfo(TImageInfo* Info) : Owner(Info) {
  if (Info) {
    FromTiff = Info->FromTiff;
    MakerNotePos = Info->MakerNotePos + 1;
    if (FromTiff) MakerNotePos += 16;
  }
}

bool TmsInfo::DecodeMakerNote(TImageInfo* Info) {
  if (!Info) return false;
  std::string make = Upper(Info->MakeText).substr(0, 5);
  if (make.size() < 5) return false;
  const std::string& note = Info->MakerNoteBytes;
  const int32_t P = MakerNotePos;
  auto starts = [&](const char* s) { return note.compare(0, std::char_traits<char>::length(s), s) == 0; };
  std::string vendor;
  int32_t dirOffset = 0, noteOffset = 0, exifBase = 0;
  bool little = false;
  if (make == "NIKON") {
    std::string model = Info->ModelText;
    size_t sp = model.find(' ');
    std::string rest = sp == std::string::npos ? model : model.substr(sp + 1);
    char first = rest.empty() ? 0 : static_cast<char>(std::toupper(static_cast<unsigned char>(rest[0])));
    if (Info->ExifVersion > "0210" || (Info->ExifVersion.empty() && first == 'D' && FromTiff)) {
      vendor = "Nikon", dirOffset = 18, noteOffset = 9;
    } else if (!starts("Nikon")) {
      vendor = "Nikon", dirOffset = 0, noteOffset = P - 8;
    } else {
      vendor = "NikonOld", dirOffset = 8, noteOffset = P;
    }
  } else if (make == "OLYMP") {
    vendor = "Olympus", dirOffset = 8, noteOffset = P, exifBase = 9;
  } else if (make == "CASIO") {
    if (starts("QVC")) vendor = "CasioQVC", dirOffset = 6, noteOffset = P - 2;
    else vendor = "Casio", dirOffset = 0, noteOffset = P - 8;
  } else if (make == "FUJIF") {
    vendor = "Fuji", dirOffset = 12, noteOffset = 13, little = true;
  } else if (make == "CANON") {
    vendor = "Canon", dirOffset = 0, noteOffset = P - 8;
  } else if (make == "SEIKO") {
    vendor = "Seiko", dirOffset = 8, noteOffset = P;
  } else if (make == "SANYO") {
    vendor = "Sanyo", dirOffset = 8, noteOffset = P;
  } else if (make == "MINOL") {
    vendor = "Minolta", dirOffset = 0, noteOffset = P - 8;
  } else {
    return false;
  }
  Make = make;
  ParseMakerNoteDirectory(Info, note, MakerNoteTable(vendor), dirOffset, noteOffset, exifBase, little);
  return true;
}

void ParseMakerNoteDirectory(TImageInfo* Info, const std::string& Data, const std::vector<TTagEntry>& Table,
                             int32_t DirOffset, int32_t NoteOffset, int32_t ExifBase, bool LittleEndian) {
  const bool big = !LittleEndian && Info->BigEndian;
  const int64_t size = static_cast<int64_t>(Data.size());
  try {
    if (DirOffset < 0 || int64_t(DirOffset) + 2 > size) throw std::out_of_range("directory outside the note");
    int64_t n = GetLE(Data, DirOffset, 2, big);
    // The note's entries count against the block's allowance of entries.
    for (int64_t i = 0; i < n && Info->TakeEntry(); ++i) {
      int64_t e = int64_t(DirOffset) + 2 + 12 * i;
      if (e + 12 > size) throw std::out_of_range("entry outside the note");
      uint32_t tag = GetLE(Data, e, 2, big), format = GetLE(Data, e + 2, 2, big), count = GetLE(Data, e + 4, 4, big);
      if (format >= 52) break;
      int64_t byteCount = int64_t(ExifFormatSize(format)) * count;
      if (byteCount == 0) continue;
      std::string raw;
      int32_t valuePos;
      if (byteCount <= 4) {
        raw = Data.substr(e + 8, byteCount);
        valuePos = static_cast<int32_t>(e + 8);
      } else {
        int64_t x = GetLE(Data, e + 8, 4, big);
        int64_t p = x + DirOffset + 1 - int64_t(NoteOffset);
        if (p >= 0 && p + byteCount <= size) {
          raw = Data.substr(p, Info->ValueViewLength(byteCount));
          valuePos = static_cast<int32_t>(p);
        } else {
          // Outside the note: the offset counts in the EXIF data.
          int64_t q = int64_t(ExifBase) + x - 1;
          if (!Info->InBlock(q, byteCount)) continue;
          raw = Info->Block->substr(q, Info->ValueViewLength(byteCount));
          valuePos = static_cast<int32_t>(q);
        }
      }
      TTagEntry row;
      row.Name = "Unknown";
      row.Caption = "Unknown";
      for (const TTagEntry& r : Table)
        if (r.Tag == tag) { row = r; break; }
      std::string lname = row.Name;
      for (char& c : lname) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (lname == "skip") continue;
      // Values of the note follow its own byte order, which may differ from the block's.
      bool saved = Info->BigEndian;
      Info->BigEndian = big;
      std::string text = Info->MakeDataText(row, format, raw);
      Info->BigEndian = saved;
      if (row.Decoder && gExifDecodeValues) row.Data = row.Decoder(Info, text);
      else row.Data = ExifPrintable(text);
      row.ValueFormat = format;
      row.Tag = tag;
      if (static_cast<int64_t>(raw.size()) == byteCount) row.Raw = std::move(raw);  // never a part of a value
      row.ValuePos = valuePos;
      row.Size = static_cast<int32_t>(byteCount);
      Info->AddTag(row);
    }
  } catch (const std::exception& ex) {
    if (Info->Owner) Info->Owner->ErrorText = std::string("Error Detected = ") + ex.what();
  }
}
