#pragma once
// The scanner protocol's client: the calls the editor makes to the source
// manager module (its one entry DSM_Entry), the state they move through
// (manager open, source open, source enabled) and the texts its failures
// carry. Every failure raises ETwainError.
//
// The manager lies beside the program ("twaindsm.so") and is loaded on the
// first call, then kept until the object goes. While a source is enabled,
// TWAcquire lets the window handle one message at a time (WaitForMessage)
// and passes each to the source.
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "twain_records.h"

class TLibrary;
class TPlatformBitmap;

class ETwainError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Where the colour table ends and the pixels of a packed bitmap begin: after
// the header (its own size field) and the table, which has the header's
// used-colour count of entries when it is set (headers of 40 bytes or
// more), else 2^bits for 1, 4 and 8 bits per pixel, else none.
size_t DibBitsOffset(const uint8_t* Header);
// A packed bitmap of Size bytes into Bitmap; ETwainError when it does not hold one.
void LoadPackedDib(const uint8_t* Dib, size_t Size, TPlatformBitmap& Bitmap);

class TScanners {
 public:
  // LibraryFile: the manager module (default: beside the program).
  explicit TScanners(std::string LibraryFile = "");
  ~TScanners();

  void TWOpenDSM(void* Parent);
  void TWCloseDSM();
  void TWOpenDS();
  void TWCloseDS();
  void TWEnableDS(bool ShowUI);
  void TWDisableDS();
  void TWSelectDS();
  // 0 native, 1 memory, 2 file.
  void TWSetXferMech(int32_t Mode);
  // True when the source took the message.
  bool TWProcessMessage(void* Message);
  void TWAcquire(void* Parent, TPlatformBitmap* Bitmap);
  bool TWNativeTransfer();
  static std::string TWConditionText(uint16_t Condition);

  // Handles one application message, waiting for the next; false when the
  // application is terminating. The default waits for nothing.
  std::function<bool()> WaitForMessage;

  bool DsmOpen() const { return dsmOpen_; }
  bool DsOpen() const { return dsOpen_; }
  bool DsEnabled() const { return dsEnabled_; }
  const TW_IDENTITY& SourceIdentity() const { return source_; }
  // How many times the manager was opened (a second acquisition does not).
  int32_t DsmOpenCount() const { return dsmOpenCount_; }

 private:
  TW_UINT16 Call(bool ToSource, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF Data);
  // The result check of every call; Manager: a call to the manager itself.
  void Check(TW_UINT16 Code, const std::string& Context, bool Manager);

  std::string libraryFile_;
  std::unique_ptr<TLibrary> library_;
  DSMENTRYPROC entry_ = nullptr;
  TW_IDENTITY app_{};
  TW_IDENTITY source_{};
  void* parent_ = nullptr;
  TPlatformBitmap* bitmap_ = nullptr;
  bool dsmOpen_ = false, dsOpen_ = false, dsEnabled_ = false;
  int32_t dsmOpenCount_ = 0;
};
