#include "scanners.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform_graphics.h"
#include "platform_library.h"
#include "platform_process.h"
#include "platform_stream.h"

namespace {

std::string Hex4(uint32_t V) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%.04x", V);
  return buf;
}

void CopyText(char* Dst, const char* Src) {
  std::strncpy(Dst, Src, 33);
  Dst[33] = 0;
}

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

}  // namespace

size_t DibBitsOffset(const uint8_t* Header) {
  const uint32_t size = Le32(Header);
  if (size == 12) {  // the old core header: 3-byte table entries
    const uint16_t bits = static_cast<uint16_t>(Header[10] | Header[11] << 8);
    return size + (bits <= 8 ? (size_t{1} << bits) * 3 : 0);
  }
  const uint16_t bits = static_cast<uint16_t>(Header[14] | Header[15] << 8);
  const uint32_t used = size >= 40 ? Le32(Header + 32) : 0;
  size_t colours = 0;
  if (used != 0) colours = used;
  else if (bits == 1 || bits == 4 || bits == 8) colours = size_t{1} << bits;
  return size + colours * 4;
}

void LoadPackedDib(const uint8_t* Dib, size_t Size, TPlatformBitmap& Bitmap) {
  if (Dib == nullptr || Size < 40) throw ETwainError("Native Transfer: no bitmap");
  const size_t offset = DibBitsOffset(Dib);
  if (offset > Size) throw ETwainError("Native Transfer: bitmap header beyond the data");
  // The same bits behind a file header, read by the one bitmap reader.
  std::vector<uint8_t> file(14 + Size);
  file[0] = 'B';
  file[1] = 'M';
  const uint32_t total = static_cast<uint32_t>(file.size()), off = static_cast<uint32_t>(14 + offset);
  for (int i = 0; i < 4; ++i) {
    file[2 + i] = static_cast<uint8_t>(total >> (8 * i));
    file[10 + i] = static_cast<uint8_t>(off >> (8 * i));
  }
  std::memcpy(file.data() + 14, Dib, Size);
  TMemoryStream stream(std::move(file));
  try {
    Bitmap.LoadFromStream(stream);
  } catch (const std::exception& E) {
    throw ETwainError(std::string("Native Transfer: ") + E.what());
  }
}

// The size of a packed bitmap from its header (the source's block carries none).
static size_t PackedDibSize(const uint8_t* Dib) {
  const uint32_t hs = Le32(Dib);
  if (hs < 40) return 0;
  const int64_t w = static_cast<int32_t>(Le32(Dib + 4));
  int64_t h = static_cast<int32_t>(Le32(Dib + 8));
  if (h < 0) h = -h;
  const uint16_t bits = static_cast<uint16_t>(Dib[14] | Dib[15] << 8);
  if (w <= 0 || h <= 0 || bits == 0 || bits > 32) return 0;
  const int64_t row = (w * bits + 31) / 32 * 4;
  if (row * h > (int64_t{1} << 32)) return 0;
  return DibBitsOffset(Dib) + static_cast<size_t>(row * h);
}

TScanners::TScanners(std::string LibraryFile) : libraryFile_(std::move(LibraryFile)) {
  if (libraryFile_.empty()) libraryFile_ = PlatformProgramFolder() + "/twaindsm.so";
  WaitForMessage = [] { return true; };
}

TScanners::~TScanners() {
  // Whatever is still open is unwound, so the manager can let go of the device.
  try {
    if (dsEnabled_) TWDisableDS();
    if (dsOpen_) TWCloseDS();
    if (dsmOpen_) TWCloseDSM();
  } catch (...) {
  }
}

TW_UINT16 TScanners::Call(bool ToSource, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF Data) {
  return entry_(&app_, ToSource ? &source_ : nullptr, DG, DAT, MSG, Data);
}

void TScanners::Check(TW_UINT16 Code, const std::string& Context, bool Manager) {
  if (Code == TWRC_SUCCESS) return;
  if (Code == TWRC_FAILURE) {
    TW_STATUS status{};
    if (Call(!Manager, DG_CONTROL, DAT_STATUS, MSG_GET, &status) != TWRC_SUCCESS)
      throw ETwainError("Can't get Status");
    throw ETwainError(std::string(Manager ? "DSM" : "DS") + " Error at " + Context + ":\r" +
                      TWConditionText(status.ConditionCode));
  }
  throw ETwainError("DSM Call failed in " + Context + ": Code " + Hex4(Code));
}

std::string TScanners::TWConditionText(uint16_t Condition) {
  switch (Condition) {
    case 0: return "Operation worked.";
    case 1: return "General failure. Unload Source immediately.";
    case 2: return "Not enough memory to complete operation.";
    case 3: return "Source Manager unable to find the specified Source.";
    case 4: return "Source is connected to maximum supported number of applications.";
    case 5: return "Source or Source Manager reported an error to the\ruser and handled the error; no application action required.";
    case 6:
      return "Capability not supported by Source or operation (get,\rset) is not supported on capability, or capability had\rdependencies on other capabilities and cannot be\roperated upon at this time";
    case 9: return "Unrecognized operation triplet.";
    case 10: return "Data parameter out of supported range.";
    case 11: return "Illegal operation for current Source Manager\rSource state.";
    case 12: return "Unknown destination in DSM_Entry.";
    case 13: return "Capability not supported by Source.";
    case 14: return "Operation not supported on capability.";
    case 15: return "Capability has dependencies on other capabilities and \rcannot be operated upon at this time.";
    case 16: return "File System operation is denied (file is protected).";
    case 17: return "Operation failed because file already exists.";
    case 18: return "File not found.";
    case 19: return "Operation failed because directory is not empty.";
    case 20:
    case 21: return "Transfer failed because of a feeder error";
    default: return "Unknown Condition " + Hex4(Condition);
  }
}

void TScanners::TWOpenDSM(void* Parent) {
  if (dsmOpen_) return;
  if (!library_) {
    library_ = TLibrary::Load(libraryFile_);
    if (!library_) throw ETwainError("Twain DLL couldn't be loaded");
    entry_ = library_->Proc<DSMENTRYPROC>("DSM_Entry");
    if (entry_ == nullptr) {
      library_.reset();
      throw ETwainError("DSMEntry not found in Twain DLL");
    }
  }
  std::memset(&app_, 0, sizeof app_);
  app_.Id = 0;
  app_.Version.MajorNum = 1;
  app_.Version.MinorNum = 0;
  app_.Version.Language = 13;
  app_.Version.Country = 1;
  CopyText(app_.Version.Info, "Vemra");
  app_.ProtocolMajor = 1;
  app_.ProtocolMinor = 7;
  app_.SupportedGroups = DG_SUPPORTED;
  CopyText(app_.Manufacturer, "Dulmora");
  CopyText(app_.ProductFamily, "Picture editor");
  CopyText(app_.ProductName, "Vemra");
  parent_ = Parent;
  Check(Call(false, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent_), "TWOpenDSM", true);
  dsmOpen_ = true;
  ++dsmOpenCount_;
}

void TScanners::TWCloseDSM() {
  if (dsOpen_) throw ETwainError("Cannot Close Source Manager: A Source is Currently Open");
  if (!dsmOpen_) return;
  Check(Call(false, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent_), "TWCloseDSM", true);
  dsmOpen_ = false;
  entry_ = nullptr;
  library_.reset();
}

void TScanners::TWOpenDS() {
  if (!dsmOpen_) throw ETwainError("DSM must be open");
  if (dsOpen_) return;
  Check(Call(false, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source_), "TWOpenDS", true);
  dsOpen_ = true;
}

void TScanners::TWCloseDS() {
  if (!dsmOpen_) throw ETwainError("DSM must be open");
  if (!dsOpen_) return;
  Check(Call(false, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source_), "TWCloseDS", true);
  dsOpen_ = false;
}

void TScanners::TWEnableDS(bool ShowUI) {
  if (!dsOpen_) throw ETwainError("DS must be open");
  if (dsEnabled_) return;
  TW_USERINTERFACE ui{static_cast<TW_BOOL>(ShowUI), 0, parent_};
  Check(Call(true, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), "TWEnableDS", false);
  dsEnabled_ = true;
}

void TScanners::TWDisableDS() {
  if (!dsOpen_) throw ETwainError("DS must be open");
  if (!dsEnabled_) return;
  TW_USERINTERFACE ui{0, 0, parent_};
  Check(Call(true, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), "TWDisableDS", false);
  dsEnabled_ = false;
}

void TScanners::TWSelectDS() {
  if (dsOpen_) throw ETwainError("Source must not be open");
  TW_IDENTITY temp{};
  Check(Call(false, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &temp), "TWSelectDS:Select Default", true);
  const TW_UINT16 rc = Call(false, DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &temp);
  if (rc == TWRC_SUCCESS) source_ = temp;
  else if (rc != TWRC_CANCEL) Check(rc, "TWSelectDS:User Select", true);
}

void TScanners::TWSetXferMech(int32_t Mode) {
  // The value lives in its own zeroed block for the duration of the call.
  auto* one = static_cast<TW_ONEVALUE*>(std::calloc(1, sizeof(TW_ONEVALUE)));
  if (one == nullptr) throw ETwainError("Set Xfer Mech: out of memory");
  one->ItemType = TWTY_UINT16;
  one->Item = Mode == 1 ? TWSX_MEMORY : Mode == 2 ? TWSX_FILE : TWSX_NATIVE;
  TW_CAPABILITY cap{ICAP_XFERMECH, TWON_ONEVALUE, one};
  const TW_UINT16 rc = Call(true, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap);
  std::free(one);
  Check(rc, "Set Xfer Mech", false);
}

bool TScanners::TWProcessMessage(void* Message) {
  if (!dsmOpen_ || !dsOpen_) return false;
  TW_EVENT event{Message, MSG_NULL};
  const TW_UINT16 rc = Call(true, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
  if (event.TWMessage == MSG_XFERREADY) {
    try {
      TWNativeTransfer();
      TW_PENDINGXFERS pending{};
      Check(Call(true, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), "Check for Pending Transfers", false);
      if (pending.Count != 0)
        Check(Call(true, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending), "Abort Pending Transfers", false);
    } catch (...) {
      // A failed transfer still ends the acquisition: a source left enabled
      // would never send another event, and the next acquisition would wait
      // for one forever.
      try {
        TWDisableDS();
        TWCloseDS();
      } catch (...) {
      }
      throw;
    }
    TWDisableDS();
    TWCloseDS();
  } else if (event.TWMessage == MSG_CLOSEDSREQ || event.TWMessage == MSG_CLOSEDSOK) {
    TWDisableDS();
    TWCloseDS();
  }
  return rc != TWRC_NOTDSEVENT;
}

bool TScanners::TWNativeTransfer() {
  TW_HANDLE handle = nullptr;
  const TW_UINT16 rc = Call(true, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle);
  if (rc == TWRC_FAILURE) Check(rc, "Native Transfer", false);
  if (rc != TWRC_XFERDONE) return false;
  // The block is ours from here on, whatever happens to its contents.
  std::unique_ptr<void, decltype(&std::free)> block(handle, &std::free);
  const auto* dib = static_cast<const uint8_t*>(block.get());
  const size_t size = dib != nullptr ? PackedDibSize(dib) : 0;
  if (size == 0) throw ETwainError("Native Transfer: no bitmap");
  if (bitmap_ != nullptr) LoadPackedDib(dib, size, *bitmap_);
  return true;
}

void TScanners::TWAcquire(void* Parent, TPlatformBitmap* Bitmap) {
  bitmap_ = Bitmap;
  TWOpenDSM(Parent);
  TWOpenDS();
  TWSetXferMech(0);
  TWEnableDS(true);
  while (dsEnabled_ && WaitForMessage()) TWProcessMessage(nullptr);
}
