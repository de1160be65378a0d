#pragma once
// IPTC datasets of a JPEG file's APP13 segment (after its "Photoshop 3.0"
// signature): records 2 and 8 become tag entries named by the IPTC table.
#include <cstdint>
#include <string>
#include <vector>

#include "exif_reader.h"

// The IPTC table: record in the upper 16 bits of ValueFormat, dataset in Tag.
const std::vector<TTagEntry>& IptcTagTable();

class TIPTCdata {
 public:
  explicit TIPTCdata(TimgData* Owner);
  virtual ~TIPTCdata() = default;

  virtual int32_t LookupTag(const std::string& Name) const;
  virtual void RemoveTag(const std::string& Name);
  virtual int32_t AddOrUpdateTag(const std::string& Name, const std::string& Value);
  virtual void AppendToTag(const std::string& Name, const std::string& Value);
  virtual int32_t UpdateTag(const std::string& Name, const std::string& Value);
  virtual std::string ReadTagValue(const std::string& Name, const std::string& Default) const;
  virtual bool ReadIptcFile(const std::string& FileName);

  // Replaces the list with the datasets of an APP13 segment's Data.
  void ParseIptcData(const std::string& Data);

  int32_t Count() const { return static_cast<int32_t>(Tags.size()); }
  TimgData* Owner;
  std::vector<TTagEntry> Tags;
};
