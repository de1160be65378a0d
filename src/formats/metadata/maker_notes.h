#pragma once
// Camera maker notes: the MakerNote value of an EXIF block is a directory in
// the maker's own layout; a vendor table picked by the camera make names its
// entries, which join the tag list of the block.
#include <cstdint>
#include <string>
#include <vector>

#include "exif_reader.h"

class TmsInfo {
 public:
  explicit TmsInfo(TImageInfo* Info);
  virtual ~TmsInfo() = default;
  // False when no vendor table matches the make (nothing is added).
  bool DecodeMakerNote(TImageInfo* Info);

  bool FromTiff = false;
  TImageInfo* Owner;
  int32_t MakerNotePos = 0;  // counted from 1 in the EXIF data
  std::string Make;          // the make that was matched
};

// Parses the maker-note directory at index DirOffset of Data (counted from 0);
// a value offset X means index X + DirOffset + 1 - NoteOffset, and a value
// that lies outside the note is read from the EXIF data at ExifBase + X - 1.
void ParseMakerNoteDirectory(TImageInfo* Info, const std::string& Data, const std::vector<TTagEntry>& Table,
                             int32_t DirOffset, int32_t NoteOffset, int32_t ExifBase, bool LittleEndian = false);

// The vendor tables, by name: "Nikon", "NikonOld", "Olympus", "CasioQVC",
// "Casio", "Fuji", "Canon", "Seiko", "Sanyo", "Minolta" (empty for others).
const std::vector<TTagEntry>& MakerNoteTable(const std::string& Vendor);
