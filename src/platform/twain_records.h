#pragma once
// The scanner protocol's records and constants, as the source manager and
// the editor exchange them through DSM_Entry. Records are packed to 2 bytes,
// as the protocol has always laid them out (an identity is 156 bytes).
//
// A native transfer hands over a packed device-independent bitmap (an
// information header, its colour table, then bottom-up rows padded to 4
// bytes) in a block allocated with malloc; the receiver frees it with free.
#include <cstddef>
#include <cstdint>

extern "C" {

using TW_UINT16 = uint16_t;
using TW_UINT32 = uint32_t;
using TW_BOOL = uint16_t;
using TW_MEMREF = void*;
using TW_HANDLE = void*;

#pragma pack(push, 2)
struct TW_VERSION {
  TW_UINT16 MajorNum, MinorNum, Language, Country;
  char Info[34];
};
struct TW_IDENTITY {
  TW_UINT32 Id;
  TW_VERSION Version;
  TW_UINT16 ProtocolMajor, ProtocolMinor;
  TW_UINT32 SupportedGroups;
  char Manufacturer[34], ProductFamily[34], ProductName[34];
};
struct TW_USERINTERFACE {
  TW_BOOL ShowUI, ModalUI;
  TW_HANDLE hParent;
};
struct TW_CAPABILITY {
  TW_UINT16 Cap, ConType;
  TW_HANDLE hContainer;
};
struct TW_ONEVALUE {
  TW_UINT16 ItemType;
  TW_UINT32 Item;
};
struct TW_EVENT {
  TW_MEMREF pEvent;
  TW_UINT16 TWMessage;
};
struct TW_PENDINGXFERS {
  TW_UINT16 Count;
  TW_UINT32 Reserved;
};
struct TW_STATUS {
  TW_UINT16 ConditionCode, Reserved;
};
#pragma pack(pop)

static_assert(sizeof(TW_IDENTITY) == 156, "identity");
static_assert(sizeof(TW_ONEVALUE) == 6, "one value");

using DSMENTRYPROC = TW_UINT16 (*)(TW_IDENTITY* pOrigin, TW_IDENTITY* pDest, TW_UINT32 DG, TW_UINT16 DAT,
                                   TW_UINT16 MSG, TW_MEMREF pData);
}

constexpr TW_UINT32 DG_CONTROL = 1, DG_IMAGE = 2;
constexpr TW_UINT16 DAT_CAPABILITY = 1, DAT_EVENT = 2, DAT_IDENTITY = 3, DAT_PARENT = 4, DAT_PENDINGXFERS = 5,
                    DAT_STATUS = 8, DAT_USERINTERFACE = 9, DAT_IMAGENATIVEXFER = 0x0104;
constexpr TW_UINT16 MSG_NULL = 0, MSG_GET = 1, MSG_GETDEFAULT = 3, MSG_GETFIRST = 4, MSG_GETNEXT = 5, MSG_SET = 6,
                    MSG_RESET = 7, MSG_XFERREADY = 0x0101, MSG_CLOSEDSREQ = 0x0102, MSG_CLOSEDSOK = 0x0103,
                    MSG_OPENDSM = 0x0301, MSG_CLOSEDSM = 0x0302, MSG_OPENDS = 0x0401, MSG_CLOSEDS = 0x0402,
                    MSG_USERSELECT = 0x0403, MSG_DISABLEDS = 0x0501, MSG_ENABLEDS = 0x0502,
                    MSG_PROCESSEVENT = 0x0601, MSG_ENDXFER = 0x0701;
constexpr TW_UINT16 TWRC_SUCCESS = 0, TWRC_FAILURE = 1, TWRC_CHECKSTATUS = 2, TWRC_CANCEL = 3, TWRC_DSEVENT = 4,
                    TWRC_NOTDSEVENT = 5, TWRC_XFERDONE = 6;
constexpr TW_UINT16 TWCC_SUCCESS = 0, TWCC_BUMMER = 1, TWCC_LOWMEMORY = 2, TWCC_NODS = 3, TWCC_MAXCONNECTIONS = 4,
                    TWCC_OPERATIONERROR = 5, TWCC_BADCAP = 6, TWCC_BADPROTOCOL = 9, TWCC_BADVALUE = 10,
                    TWCC_SEQERROR = 11, TWCC_BADDEST = 12, TWCC_CAPUNSUPPORTED = 13, TWCC_CAPBADOPERATION = 14,
                    TWCC_CAPSEQERROR = 15, TWCC_DENIED = 16, TWCC_FILEEXISTS = 17, TWCC_FILENOTFOUND = 18,
                    TWCC_NOTEMPTY = 19, TWCC_PAPERJAM = 20, TWCC_PAPERDOUBLEFEED = 21;
constexpr TW_UINT16 ICAP_XFERMECH = 0x0103, TWTY_UINT16 = 4, TWON_ONEVALUE = 5;
constexpr TW_UINT16 TWSX_NATIVE = 0, TWSX_FILE = 1, TWSX_MEMORY = 2;
constexpr TW_UINT32 DG_SUPPORTED = DG_CONTROL | DG_IMAGE;
