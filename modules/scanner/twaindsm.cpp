// The scanner source manager: the one entry DSM_Entry, answering the calls
// the editor makes by driving SANE. A source is a SANE device; enabling it
// first applies the options of VEMRA_SCAN_OPTIONS ("name=value;...", SANE
// option names), then shows the source's own small dialog when the caller
// asks for one and the program has a widget application; where there is no
// dialog, the special keys "ui=cancel" and "select=cancel" answer it and the
// source selection with Cancel. Every frame SANE delivers is checked by the
// frame assembler before the bitmap is built.
#include <sane/sane.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform_scanframe.h"
#include "scan_dialog.h"
#include "twain_records.h"

namespace {

struct TManager {
  bool Open = false;
  bool SaneReady = false;
  std::vector<std::string> Devices;  // by source Id - 1
  SANE_Handle Handle = nullptr;
  TW_UINT32 OpenId = 0;
  bool Enabled = false;
  TW_UINT16 Pending = MSG_NULL;  // the event the next PROCESSEVENT reports
  TW_UINT16 Condition = TWCC_SUCCESS;
  bool Feeder = false;
};
TManager gDsm;

TW_UINT16 Fail(TW_UINT16 Condition) {
  gDsm.Condition = Condition;
  return TWRC_FAILURE;
}

void CopyText(char* Dst, const char* Src) {
  std::strncpy(Dst, Src != nullptr ? Src : "", 33);
  Dst[33] = 0;
}

std::map<std::string, std::string> ScanOptions() {
  std::map<std::string, std::string> out;
  const char* env = std::getenv("VEMRA_SCAN_OPTIONS");
  std::string s = env != nullptr ? env : "";
  size_t begin = 0;
  while (begin < s.size()) {
    size_t end = s.find(';', begin);
    if (end == std::string::npos) end = s.size();
    const std::string item = s.substr(begin, end - begin);
    const size_t eq = item.find('=');
    if (eq != std::string::npos) out[item.substr(0, eq)] = item.substr(eq + 1);
    begin = end + 1;
  }
  return out;
}

TW_UINT16 ConditionOf(SANE_Status S) {
  switch (S) {
    case SANE_STATUS_NO_MEM: return TWCC_LOWMEMORY;
    case SANE_STATUS_DEVICE_BUSY: return TWCC_MAXCONNECTIONS;
    case SANE_STATUS_INVAL: return TWCC_BADVALUE;
    case SANE_STATUS_UNSUPPORTED: return TWCC_BADPROTOCOL;
    case SANE_STATUS_ACCESS_DENIED: return TWCC_DENIED;
    case SANE_STATUS_JAMMED: return TWCC_PAPERJAM;
    case SANE_STATUS_NO_DOCS: return TWCC_PAPERDOUBLEFEED;
    default: return TWCC_BUMMER;  // I/O error, cover open, anything else
  }
}

bool LoadDevices() {
  gDsm.Devices.clear();
  const SANE_Device** list = nullptr;
  if (sane_get_devices(&list, SANE_TRUE) != SANE_STATUS_GOOD || list == nullptr) return false;
  for (int i = 0; list[i] != nullptr; ++i) gDsm.Devices.push_back(list[i]->name);
  return true;
}

void Describe(TW_UINT32 Id, TW_IDENTITY& Ident) {
  std::memset(&Ident, 0, sizeof Ident);
  Ident.Id = Id;
  Ident.Version.MajorNum = 1;
  Ident.Version.Language = 13;
  Ident.Version.Country = 1;
  Ident.ProtocolMajor = 1;
  Ident.ProtocolMinor = 7;
  Ident.SupportedGroups = DG_SUPPORTED;
  CopyText(Ident.Version.Info, "SANE source");
  CopyText(Ident.Manufacturer, "SANE");
  CopyText(Ident.ProductFamily, "Scanner");
  CopyText(Ident.ProductName, gDsm.Devices[Id - 1].c_str());
}

void SetOption(const std::string& Name, const std::string& Value) {
  SANE_Int count = 0;
  if (sane_control_option(gDsm.Handle, 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD) return;
  for (SANE_Int i = 1; i < count; ++i) {
    const SANE_Option_Descriptor* d = sane_get_option_descriptor(gDsm.Handle, i);
    if (d == nullptr || d->name == nullptr || Name != d->name) continue;
    if (d->type == SANE_TYPE_BOOL) {
      SANE_Bool b = Value == "yes" || Value == "1" || Value == "true";
      sane_control_option(gDsm.Handle, i, SANE_ACTION_SET_VALUE, &b, nullptr);
    } else if (d->type == SANE_TYPE_INT || d->type == SANE_TYPE_FIXED) {
      SANE_Word w = d->type == SANE_TYPE_INT ? std::atoi(Value.c_str()) : SANE_FIX(std::atof(Value.c_str()));
      sane_control_option(gDsm.Handle, i, SANE_ACTION_SET_VALUE, &w, nullptr);
    } else if (d->type == SANE_TYPE_STRING) {
      std::vector<char> v(static_cast<size_t>(d->size) + 1, 0);
      std::strncpy(v.data(), Value.c_str(), static_cast<size_t>(d->size) - 1);
      sane_control_option(gDsm.Handle, i, SANE_ACTION_SET_VALUE, v.data(), nullptr);
    }
  }
}

// The value of the device's "source" option ("" when it has none).
std::string CurrentSource() {
  SANE_Int count = 0;
  if (sane_control_option(gDsm.Handle, 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD) return "";
  for (SANE_Int i = 1; i < count; ++i) {
    const SANE_Option_Descriptor* d = sane_get_option_descriptor(gDsm.Handle, i);
    if (d == nullptr || d->name == nullptr || std::string(d->name) != "source" || d->type != SANE_TYPE_STRING) continue;
    std::vector<char> v(static_cast<size_t>(d->size) + 1, 0);
    if (sane_control_option(gDsm.Handle, i, SANE_ACTION_GET_VALUE, v.data(), nullptr) == SANE_STATUS_GOOD) return v.data();
  }
  return "";
}

TW_UINT16 Identity(TW_IDENTITY* pDest, TW_UINT16 Msg, TW_IDENTITY* Ident) {
  if (Ident == nullptr) return Fail(TWCC_BADVALUE);
  switch (Msg) {
    case MSG_GETDEFAULT:
    case MSG_USERSELECT: {
      if (Msg == MSG_USERSELECT && ScanOptions()["select"] == "cancel") return TWRC_CANCEL;
      if (!LoadDevices() || gDsm.Devices.empty()) return Fail(TWCC_NODS);
      TW_UINT32 id = 1;
      const auto want = ScanOptions()["device"];
      for (size_t i = 0; i < gDsm.Devices.size(); ++i)
        if (gDsm.Devices[i] == want) id = static_cast<TW_UINT32>(i + 1);
      Describe(id, *Ident);
      return TWRC_SUCCESS;
    }
    case MSG_OPENDS: {
      if (gDsm.Handle != nullptr) return Fail(TWCC_MAXCONNECTIONS);
      if (gDsm.Devices.empty()) LoadDevices();
      // Id 0: the default source, as no selection was made.
      if (Ident->Id == 0 && !gDsm.Devices.empty()) Describe(1, *Ident);
      if (Ident->Id == 0 || Ident->Id > gDsm.Devices.size()) return Fail(TWCC_NODS);
      const SANE_Status s = sane_open(gDsm.Devices[Ident->Id - 1].c_str(), &gDsm.Handle);
      if (s != SANE_STATUS_GOOD) return Fail(ConditionOf(s));
      gDsm.OpenId = Ident->Id;
      return TWRC_SUCCESS;
    }
    case MSG_CLOSEDS:
      if (gDsm.Handle == nullptr) return Fail(TWCC_SEQERROR);
      sane_close(gDsm.Handle);
      gDsm.Handle = nullptr;
      gDsm.Enabled = false;
      gDsm.Pending = MSG_NULL;
      return TWRC_SUCCESS;
    default:
      (void)pDest;
      return Fail(TWCC_BADPROTOCOL);
  }
}

// Ends a scan that failed. Some backends stop their reader thread
// asynchronously, wherever it is; one that has only just started may be
// inside the allocator then and leave it locked for good. A failure can come
// before the reader is under way, so it gets a moment to settle first.
void StopScan() {
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  sane_cancel(gDsm.Handle);
}

// One image: every frame of the scan through the assembler.
TW_UINT16 NativeTransfer(TW_HANDLE* Result) {
  TScanAssembler assembler;
  std::vector<uint8_t> buffer(64 * 1024);
  try {
    while (!assembler.Done()) {
      SANE_Status s = sane_start(gDsm.Handle);
      if (s == SANE_STATUS_CANCELLED) return TWRC_CANCEL;
      if (s != SANE_STATUS_GOOD) {
        StopScan();
        return Fail(ConditionOf(s));
      }
      SANE_Parameters p;
      s = sane_get_parameters(gDsm.Handle, &p);
      if (s != SANE_STATUS_GOOD) {
        StopScan();
        return Fail(ConditionOf(s));
      }
      assembler.BeginFrame({static_cast<int32_t>(p.format), p.last_frame != 0, p.bytes_per_line,
                            p.pixels_per_line, p.lines, p.depth});
      for (;;) {
        SANE_Int got = 0;
        s = sane_read(gDsm.Handle, buffer.data(), static_cast<SANE_Int>(buffer.size()), &got);
        if (s == SANE_STATUS_EOF) break;
        if (s == SANE_STATUS_CANCELLED) {
          StopScan();
          return TWRC_CANCEL;
        }
        if (s != SANE_STATUS_GOOD) {
          StopScan();
          return Fail(ConditionOf(s));
        }
        if (got < 0 || got > static_cast<SANE_Int>(buffer.size())) throw EScanFrameError(TWCC_BUMMER, "bad read");
        assembler.Append(buffer.data(), static_cast<size_t>(got));
      }
      assembler.EndFrame();
    }
  } catch (const EScanFrameError& E) {
    StopScan();
    return Fail(E.Condition);
  } catch (const std::bad_alloc&) {
    StopScan();
    return Fail(TWCC_LOWMEMORY);
  }
  // The scan is complete; the device is ready for the next sheet.
  if (!gDsm.Feeder) sane_cancel(gDsm.Handle);
  const std::vector<uint8_t> dib = assembler.PackedDib();
  void* block = std::malloc(dib.size());
  if (block == nullptr) return Fail(TWCC_LOWMEMORY);
  std::memcpy(block, dib.data(), dib.size());
  *Result = block;
  return TWRC_XFERDONE;
}

TW_UINT16 Control(TW_IDENTITY* pDest, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData) {
  switch (DAT) {
    case DAT_PARENT:
      if (MSG == MSG_OPENDSM) {
        if (!gDsm.SaneReady) {
          SANE_Int version = 0;
          if (sane_init(&version, nullptr) != SANE_STATUS_GOOD) return Fail(TWCC_BUMMER);
          gDsm.SaneReady = true;
        }
        gDsm.Open = true;
        return TWRC_SUCCESS;
      }
      if (MSG == MSG_CLOSEDSM) {
        if (gDsm.Handle != nullptr) return Fail(TWCC_SEQERROR);
        // SANE stays initialised for the rest of the process (this module is
        // never unloaded): a backend unloaded by sane_exit takes memory with
        // it that it still lists, and the next session opens faster.
        const bool ready = gDsm.SaneReady;
        gDsm = TManager();
        gDsm.SaneReady = ready;
        return TWRC_SUCCESS;
      }
      return Fail(TWCC_BADPROTOCOL);
    case DAT_IDENTITY:
      return Identity(pDest, MSG, static_cast<TW_IDENTITY*>(pData));
    case DAT_STATUS: {
      if (pData == nullptr || MSG != MSG_GET) return Fail(TWCC_BADVALUE);
      auto* st = static_cast<TW_STATUS*>(pData);
      st->ConditionCode = gDsm.Condition;
      st->Reserved = 0;
      gDsm.Condition = TWCC_SUCCESS;
      return TWRC_SUCCESS;
    }
    default:
      break;
  }
  // Everything else speaks to the open source.
  if (gDsm.Handle == nullptr || pDest == nullptr || pDest->Id != gDsm.OpenId) return Fail(TWCC_BADDEST);
  switch (DAT) {
    case DAT_CAPABILITY: {
      auto* cap = static_cast<TW_CAPABILITY*>(pData);
      if (cap == nullptr || MSG != MSG_SET) return Fail(TWCC_CAPBADOPERATION);
      if (cap->Cap != ICAP_XFERMECH) return Fail(TWCC_CAPUNSUPPORTED);
      const auto* one = static_cast<const TW_ONEVALUE*>(cap->hContainer);
      if (cap->ConType != TWON_ONEVALUE || one == nullptr || one->ItemType != TWTY_UINT16) return Fail(TWCC_BADVALUE);
      // Only native transfers are offered.
      return one->Item == TWSX_NATIVE ? TWRC_SUCCESS : Fail(TWCC_BADVALUE);
    }
    case DAT_USERINTERFACE: {
      if (MSG == MSG_ENABLEDS) {
        if (pData == nullptr) return Fail(TWCC_BADVALUE);
        auto options = ScanOptions();
        for (const auto& [name, value] : options)
          if (name != "ui" && name != "select" && name != "device") SetOption(name, value);
        // The source's own dialog when one was asked for and can be shown;
        // without it, the options above and the "ui" answer stand for it.
        bool scan = options["ui"] != "cancel";
        const auto* ui = static_cast<const TW_USERINTERFACE*>(pData);
        if (ui->ShowUI) {
          const int answer = ShowScanDialog(gDsm.Handle, gDsm.Devices[gDsm.OpenId - 1]);
          if (answer >= 0) scan = answer == 1;
        }
        gDsm.Feeder = CurrentSource().find("Feeder") != std::string::npos;
        gDsm.Enabled = true;
        // Scan at once, or a close request on Cancel.
        gDsm.Pending = scan ? MSG_XFERREADY : MSG_CLOSEDSREQ;
        return TWRC_SUCCESS;
      }
      if (MSG == MSG_DISABLEDS) {
        gDsm.Enabled = false;
        gDsm.Pending = MSG_NULL;
        return TWRC_SUCCESS;
      }
      return Fail(TWCC_BADPROTOCOL);
    }
    case DAT_EVENT: {
      auto* ev = static_cast<TW_EVENT*>(pData);
      if (ev == nullptr || MSG != MSG_PROCESSEVENT) return Fail(TWCC_BADVALUE);
      ev->TWMessage = gDsm.Pending;
      if (gDsm.Pending == MSG_NULL) return TWRC_NOTDSEVENT;
      gDsm.Pending = MSG_NULL;
      return TWRC_DSEVENT;
    }
    case DAT_PENDINGXFERS: {
      auto* px = static_cast<TW_PENDINGXFERS*>(pData);
      if (px == nullptr) return Fail(TWCC_BADVALUE);
      if (MSG == MSG_ENDXFER) {
        // A feeder may hold more sheets: the count is unknown (0xFFFF).
        px->Count = gDsm.Feeder ? 0xFFFF : 0;
        if (gDsm.Feeder) gDsm.Pending = MSG_XFERREADY;
        return TWRC_SUCCESS;
      }
      if (MSG == MSG_RESET) {
        px->Count = 0;
        gDsm.Pending = MSG_NULL;
        sane_cancel(gDsm.Handle);
        return TWRC_SUCCESS;
      }
      return Fail(TWCC_BADPROTOCOL);
    }
    default:
      return Fail(TWCC_BADPROTOCOL);
  }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) TW_UINT16 DSM_Entry(TW_IDENTITY* pOrigin, TW_IDENTITY* pDest,
                                                                      TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                                                                      TW_MEMREF pData) {
  if (pOrigin == nullptr) return Fail(TWCC_BADVALUE);
  if (!gDsm.Open && !(DG == DG_CONTROL && DAT == DAT_PARENT && MSG == MSG_OPENDSM) &&
      !(DG == DG_CONTROL && DAT == DAT_STATUS))
    return Fail(TWCC_SEQERROR);
  try {
    if (DG == DG_CONTROL) return Control(pDest, DAT, MSG, pData);
    if (DG == DG_IMAGE && DAT == DAT_IMAGENATIVEXFER && MSG == MSG_GET) {
      if (gDsm.Handle == nullptr || !gDsm.Enabled || pData == nullptr) return Fail(TWCC_SEQERROR);
      return NativeTransfer(static_cast<TW_HANDLE*>(pData));
    }
    return Fail(TWCC_BADPROTOCOL);
  } catch (...) {
    // Nothing may cross into the caller.
    return Fail(TWCC_BUMMER);
  }
}
