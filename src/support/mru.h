#pragma once
// The list of the eight most recently used files, shown as menu items under
// one parent menu item and kept in a registry key the caller opened.
#include <array>
#include <string>

#include "platform_registry.h"

// What the list needs of the parent menu item; the Qt menu implements it.
class TMruMenu {
 public:
  virtual ~TMruMenu() = default;
  virtual int Count() const = 0;
  // Appends an item with this caption under the parent.
  virtual void Add(const std::string& Caption) = 0;
  // Gives item To the click handler of item From (nothing when it has none).
  virtual void CopyClickHandler(int From, int To) = 0;
  virtual void SetCaption(int Index, const std::string& Caption) = 0;
  virtual void SetItemVisible(int Index, bool Visible) = 0;
  virtual void SetParentVisible(bool Visible) = 0;
};

class TMRU {
 public:
  static constexpr int kCount = 8;

  // Eight empty entries; Parent is not owned and may be null (no menu).
  explicit TMRU(TMruMenu* Parent);

  // Puts the name at the top ("&" doubled, as a menu caption shows it) and
  // brings the menu items up to date. An empty name only refreshes all items.
  void AddFile(const std::string& FileName);

  // Entry i := the string value "i" (0 to 7); missing values read as empty.
  // Without a key (it could not be opened), eight empty entries.
  void LoadFromRegistry(TRegistry* Reg);
  // Writes every entry under "0" to "7", empty ones included, when the key
  // was opened for writing.
  void SaveToRegistry(TRegistry* Reg) const;

  const std::array<std::string, kCount>& Entries() const { return entries_; }
  const std::string& Entry(int Index) const { return entries_.at(static_cast<size_t>(Index)); }

 private:
  void UpdateItems(int Last);

  TMruMenu* parent_;
  std::array<std::string, kCount> entries_;
};
