#pragma once
// Metadata of image files: the JPEG segments kept for writing back, the EXIF
// and TIFF directories turned into named tag entries with display texts, and
// the summary the information window shows.
//
// Positions (ValuePos, HeightPos, ...) are byte indexes counted from 0 into
// the Data of the kept EXIF segment (for a TIFF file, into the window of the
// file read around its first directory). Every offset and count read from a
// file is checked against the bytes actually held; nothing here reads outside
// them.
//
// The work a block can cause is bounded by its size, however its directories
// overlap or point at each other: at most kMaxExifEntries directory entries
// (maker-note entries included) are read per block, the maker note is decoded
// once, and the raw value bytes kept in the tag list add up to at most four
// times the block's size; long display texts beyond a like budget keep their
// first 50 characters.
#include <cstdint>
#include <ctime>
#include <memory>
#include <set>
#include <string>
#include <vector>

class TImageInfo;
class TIPTCdata;
class TJPEGImage;
class TStream;

// Byte order of a metadata block: true for "MM" (big-endian), false for "II".
class tEndInd {
 public:
  virtual ~tEndInd() = default;
  bool BigEndian = false;
};

// Turns the display text of an entry into its decoded text. Info is the
// block being parsed (maker-note decoders add entries of their own to it).
using TTagDecoder = std::string (*)(TImageInfo* Info, const std::string& Data);

// One tag entry, also the row type of the built-in tables.
struct TTagEntry {
  int32_t EntryId = 0;
  uint32_t ValueFormat = 0;  // IPTC entries keep the record number in the upper 16 bits
  uint32_t Tag = 0;
  std::string Name;
  std::string Caption;     // display name; the Name when empty
  std::string ValueNames;  // "1:Name,2:Other"
  std::string Data;        // display text
  std::string Raw;         // the value bytes as in the file
  int32_t ValuePos = 0;
  std::string Pattern;     // printf pattern for the display text
  int32_t Size = 0;
  TTagDecoder Decoder = nullptr;
};

// One kept JPEG segment.
struct TSection {
  std::string Data;  // the two length bytes and the payload, as in the file
  uint32_t Marker = 0;
  uint32_t Size = 0;  // the segment length, length bytes included
};

constexpr int kMaxSections = 20;

// Directory entries read from one block, however its directories overlap.
constexpr int32_t kMaxExifEntries = 4096;

// Sizes of the TIFF value formats 1 to 12; 0 for any other format.
int32_t ExifFormatSize(uint32_t Format);

// The built-in tables (captions filled from the names on first use).
const std::vector<TTagEntry>& ExifTagTable();  // 250 rows and the closing "Unknown" row
const std::vector<TTagEntry>& GpsTagTable();   // 31 rows

// Decoded values in display texts (value names, patterns, decoders); on by default.
extern bool gExifDecodeValues;

// Shared helpers of the metadata readers.
// Formats Value by a pattern with one %[-][width][.precision]f conversion as
// the class library's Format does: "." whatever the locale, and the decimals
// rounded half away from zero on the value's 15 significant digits (9/4 gives
// "2.3", 7/20 "0.4"). Any other pattern is printf's under the C locale.
std::string ExifFormatFloat(const char* Pattern, double Value);
std::string ExifTrim(const std::string& S);
double ExifValueToFloat(const std::string& Item);  // "n/d" or a plain number
std::vector<std::string> ExifSplitList(const std::string& List, char Sep);
// The name for Value in "1:Name,2:Other", or "" when none matches.
std::string ExifValueName(const std::string& ValueNames, int64_t Value, bool* Found);
// The 50-character display form: characters below 32 shown as ".".
std::string ExifPrintable(const std::string& S);

class TimgData;

// The parsed EXIF or TIFF directories of one file.
class TImageInfo : public tEndInd {
 public:
  TImageInfo(TimgData* Owner, int32_t ListMode);
  virtual int32_t LookupTagIndex(const std::string& Name) const;
  virtual std::string LookupTagValue(const std::string& Name) const;
  // The first value of the named entry as a number (0 when missing).
  double LookupTagFloat(const std::string& Name) const;
  int64_t LookupTagInt(const std::string& Name) const;

  // Parses the directory at index DirStart of the block; a value offset X in
  // it means index X + OffsetBase.
  void ParseExifDirectory(int32_t DirStart, int32_t OffsetBase, int32_t ExifLength, int32_t Level,
                          const std::string& Prefix);
  // Adds the focal length in 35 mm film terms when the block lacks it.
  void Compute35mm();
  // Writes a new pixel size into the kept EXIF segment where the block records one.
  void PatchExifSize(int32_t Height, int32_t Width);
  // Appends an entry to the tag list, within the budgets of the block.
  void AddTag(TTagEntry Entry);
  // Sets the bytes parsed and the budgets that follow from their size.
  void AttachBlock(std::string* B);
  // Takes one directory entry from the block's allowance; false once spent.
  bool TakeEntry();
  // How many of a value's Count bytes to read: all while the raw budget
  // lasts, else the first kValueView, which hold every character a cut
  // display text shows and the 128 numbers a value list shows.
  int64_t ValueViewLength(int64_t Count) const;
  static constexpr int64_t kValueView = 1024;

  // Reads an integer of the block's byte order; 0 outside the block.
  uint32_t Get16(int64_t Pos) const;
  uint32_t Get32(int64_t Pos) const;
  bool InBlock(int64_t Pos, int64_t Count) const;

  std::vector<TTagEntry> Tags;
  int32_t TagCount() const { return static_cast<int32_t>(Tags.size()); }
  TimgData* Owner;
  std::string* Block = nullptr;  // the bytes parsed (a kept section's Data)
  std::string MakeText, ModelText, PhotoDate, ExifVersion;
  int32_t Height = 0, Width = 0, HeightPos = -1, WidthPos = -1;
  uint32_t HeightFormat = 0, WidthFormat = 0;
  int32_t FlashValue = 0;
  int32_t ListMode;
  std::string MakerNoteBytes;
  int32_t MakerNotePos = -1;
  bool FromTiff = false;
  std::string CommentText;
  int32_t CommentPos = -1, CommentSize = 0;
  int32_t DateTimePos = -1, DateTimeOriginalPos = -1, DateTimeDigitizedPos = -1;
  int64_t NextDirOffset = 0, NextDirLength = 0;
  int32_t OffsetBase = 0;

 public:
  // The display text of a value before any decoder: text, quoted undefined
  // bytes or the value list (value names and pattern applied).
  std::string MakeDataText(const TTagEntry& Row, uint32_t Format, const std::string& Raw) const;

 private:
  std::set<std::string> visited_;
  int32_t dirsParsed_ = 0;
  int32_t entriesLeft_ = kMaxExifEntries;
  int64_t rawLeft_ = 0, textLeft_ = 0;
  bool makerNoteDone_ = false;
};

// The metadata of one loaded file.
class TimgData : public tEndInd {
 public:
  explicit TimgData(int32_t ListMode = 255);
  ~TimgData() override;

  bool LoadMetadata(const std::string& FileName);
  bool ReadJpegSegments(TStream& Stream);
  bool ReadTiffMetadata(TStream& Stream);
  bool HasExif() const { return ExifSection != nullptr; }
  std::string ExifSummaryText() const;
  void Clear();

  // Writes SOI and the kept segments; returns the bytes after the SOI.
  int64_t WriteMetadataSegments(TStream& Stream);
  // Saves Jpeg as FileName with the kept segments in front of its image.
  void WriteJpegWithMetadata(const TJPEGImage& Jpeg, const std::string& FileName, bool AdjSize);
  // The same into a stream (the file write goes through it).
  void WriteJpegWithMetadataTo(const std::vector<uint8_t>& Encoded, TStream& Out, int32_t Height,
                               int32_t Width, bool AdjSize);

  TSection Sections[kMaxSections];
  int32_t SectionCount = 0;
  TSection* ExifSection = nullptr;
  TSection* IptcSection = nullptr;
  TSection* CommentSection = nullptr;
  TSection* JfifSection = nullptr;
  std::string FileName;
  std::time_t FileDate = 0;
  int64_t FileSize = 0;
  std::string ErrorText;
  std::unique_ptr<TImageInfo> ExifInfo;
  std::unique_ptr<TIPTCdata> IptcInfo;
  int32_t ListMode;
  bool FromTiff = false;

 private:
  void ParseExifHeader(TSection& S);
};

// The metadata of the picture last loaded from a JPEG file, carried into
// the next JPEG save.
extern std::unique_ptr<TimgData> gExifData;
extern bool gHasExif;
