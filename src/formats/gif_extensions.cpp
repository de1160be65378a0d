// GIF extension blocks: graphic control, plain text, comment and application
// extensions, and the two registries that pick a class for a block while a
// frame's extensions are read. Every block starts with 0x21 and its label;
// the loop extension is an application extension with its own identifier.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "gif_image.h"
#include "img_fileio.h"

namespace {

uint8_t ReadByteOrRaise(TStream& S) {
  uint8_t b = 0;
  if (ReadUpTo(S, &b, 1) != 1) throw GIFException("Premature end of data");
  return b;
}

void ReadOrRaise(TStream& S, void* Buffer, size_t N) {
  if (ReadUpTo(S, Buffer, N) != N) throw GIFException("Premature end of data");
}

void WriteByte(TStream& S, uint8_t B) { S.WriteBuffer(&B, 1); }

void WriteWord(TStream& S, uint16_t W) {
  uint8_t b[2];
  GIFPutWord(b, W);
  S.WriteBuffer(b, 2);
}

template <class T>
std::unique_ptr<TGIFExtension> Make(TGIFSubImage* Frame) {
  return std::make_unique<T>(Frame);
}

const TGIFExtensionClass* ChooseApplication(TStream& S);

const TGIFExtensionClass kGraphicControlClass{0xF9, Make<TGIFGraphicControlExtension>, nullptr};
const TGIFExtensionClass kTextClass{0x01, Make<TGIFTextExtension>, nullptr};
const TGIFExtensionClass kCommentClass{0xFE, Make<TGIFCommentExtension>, nullptr};
const TGIFExtensionClass kApplicationClass{0xFF, Make<TGIFApplicationExtension>, ChooseApplication};
const TGIFExtensionClass kNSLoopClass{0xFF, Make<TGIFAppExtNSLoop>, nullptr};
const TGIFExtensionClass kUnknownAppClass{0xFF, Make<TGIFUnknownAppExtension>, nullptr};

struct TRegistries {
  std::mutex Lock;
  bool Built = false;
  std::vector<const TGIFExtensionClass*> Types;
  std::vector<std::pair<std::string, const TGIFExtensionClass*>> Apps;
};

TRegistries& Registries() {
  static TRegistries r;
  return r;
}

void BuildRegistries(TRegistries& R) {
  if (R.Built) return;
  R.Built = true;
  R.Types = {&kTextClass, &kGraphicControlClass, &kCommentClass, &kApplicationClass};
  R.Apps = {{"NETSCAPE2.0", &kNSLoopClass}, {"ANIMEXTS1.0", &kNSLoopClass}};
}

// Looks at the block size and identifier behind the label.
const TGIFExtensionClass* ChooseApplication(TStream& S) {
  const int64_t at = S.Position();
  uint8_t size = 0;
  if (ReadUpTo(S, &size, 1) != 1) return &kApplicationClass;
  if (size == 11) {
    uint8_t id[11];
    if (ReadUpTo(S, id, 11) != 11) return &kUnknownAppClass;
    const TGIFExtensionClass* c = FindGIFAppExtension(id);
    return c ? c : &kUnknownAppClass;
  }
  if (size == 10) {
    uint8_t id[10];
    return ReadUpTo(S, id, 10) == 10 ? &kUnknownAppClass : nullptr;
  }
  S.SetPosition(at);
  return &kApplicationClass;
}

}  // namespace

void RegisterGIFExtension(const TGIFExtensionClass* Class) {
  TRegistries& r = Registries();
  std::lock_guard<std::mutex> g(r.Lock);
  BuildRegistries(r);
  r.Types.push_back(Class);
}

void RegisterGIFAppExtension(const std::string& Identifier, const TGIFExtensionClass* Class) {
  TRegistries& r = Registries();
  std::lock_guard<std::mutex> g(r.Lock);
  BuildRegistries(r);
  r.Apps.emplace_back(Identifier, Class);
}

const TGIFExtensionClass* FindGIFExtension(uint8_t Label) {
  TRegistries& r = Registries();
  std::lock_guard<std::mutex> g(r.Lock);
  BuildRegistries(r);
  for (auto it = r.Types.rbegin(); it != r.Types.rend(); ++it)
    if ((*it)->Label == Label) return *it;
  return nullptr;
}

const TGIFExtensionClass* FindGIFAppExtension(const uint8_t* Identifier11) {
  TRegistries& r = Registries();
  std::lock_guard<std::mutex> g(r.Lock);
  BuildRegistries(r);
  // Exact bytes: identifiers are case-sensitive.
  for (auto it = r.Apps.rbegin(); it != r.Apps.rend(); ++it)
    if (it->first.size() == 11 && std::memcmp(it->first.data(), Identifier11, 11) == 0) return it->second;
  return nullptr;
}

void FreeGIFExtensionRegistries() {
  TRegistries& r = Registries();
  std::lock_guard<std::mutex> g(r.Lock);
  r.Types.clear();
  r.Apps.clear();
  r.Built = false;
}

// ---- The list ------------------------------------------------------------------

void TGIFExtensionList::LoadFromStream(TStream& Stream) {
  uint8_t b = 0;
  if (ReadUpTo(Stream, &b, 1) != 1) return;
  while (b != 0x2C && b != 0x3B) {
    if (b != 0x21) {
      if (image_) image_->Warning(this, 1, "Invalid extension introducer");
      break;
    }
    const int64_t at = Stream.Position();
    uint8_t label = 0;
    const TGIFExtensionClass* cls = nullptr;
    if (ReadUpTo(Stream, &label, 1) == 1) {
      cls = FindGIFExtension(label);
      // Narrow the class until it no longer changes.
      while (cls && cls->FindSubExtension) {
        const TGIFExtensionClass* sub = cls->FindSubExtension(Stream);
        if (sub == cls) break;
        cls = sub;
      }
    }
    Stream.SetPosition(at);
    if (!cls) throw GIFException("Unknown extension type");
    Stream.Seek(-1, TSeekOrigin::soCurrent);
    std::unique_ptr<TGIFExtension> ext = cls->Create(frame_);
    ext->LoadFromStream(Stream);
    Add(std::move(ext));
    if (ReadUpTo(Stream, &b, 1) != 1) return;
  }
  Stream.Seek(-1, TSeekOrigin::soCurrent);
}

// ---- Base ------------------------------------------------------------------------

TGIFExtension::TGIFExtension(TGIFSubImage* Frame) : TGIFItem(Frame ? Frame->Image() : nullptr), frame_(Frame) {}

void TGIFExtension::LoadFromStream(TStream& Stream) {
  uint8_t head[2];
  ReadOrRaise(Stream, head, 2);
  if (head[0] != 0x21) throw GIFException("Invalid extension introducer");
  if (head[1] != GetExtensionType())
    throw GIFException("Internal error: Extension Instance does not match Extension Label");
}

void TGIFExtension::SaveToStream(TStream& Stream) {
  const uint8_t head[2] = {0x21, GetExtensionType()};
  Stream.WriteBuffer(head, 2);
}

// ---- Graphic control ---------------------------------------------------------------

TGIFGraphicControlExtension::TGIFGraphicControlExtension(TGIFSubImage* Frame) : TGIFExtension(Frame) {
  if (frame_ && !frame_->GraphicControlExtension()) frame_->SetGraphicControlExtension(this);
}

TGIFGraphicControlExtension::~TGIFGraphicControlExtension() {
  if (frame_ && frame_->GraphicControlExtension() == this) {
    if (Transparent()) frame_->SetTransparent(false);
    frame_->SetGraphicControlExtension(nullptr);
  }
}

void TGIFGraphicControlExtension::SetTransparent(bool V) {
  packed_ = static_cast<uint8_t>(V ? packed_ | 1 : packed_ & ~1);
  if (V && frame_) frame_->SetTransparent(true);
}

void TGIFGraphicControlExtension::SetTransparentColorIndex(int32_t Index) {
  const int32_t n = frame_ ? frame_->ActiveColorMap().Count() : 0;
  if (Index < 0 || Index > 255 || (n > 0 && Index >= n)) {
    Warning(1, "Invalid color index");
    Index = 0;
  }
  transparentIndex_ = static_cast<uint8_t>(Index);
}

void TGIFGraphicControlExtension::LoadFromStream(TStream& Stream) {
  TGIFExtension::LoadFromStream(Stream);
  uint8_t b[6];
  if (ReadUpTo(Stream, b, 6) != 6) {
    Warning(1, "Premature end of data");
    return;
  }
  blockSize_ = b[0];
  packed_ = b[1];
  delay_ = GIFGetWord(b + 2);
  transparentIndex_ = b[4];
  terminator_ = b[5];
  if ((packed_ & 1) && frame_) frame_->SetTransparent(true);
}

void TGIFGraphicControlExtension::SaveToStream(TStream& Stream) {
  TGIFExtension::SaveToStream(Stream);
  const uint8_t b[6] = {blockSize_, packed_, static_cast<uint8_t>(delay_), static_cast<uint8_t>(delay_ >> 8),
                        transparentIndex_, terminator_};
  Stream.WriteBuffer(b, 6);
}

// ---- Text --------------------------------------------------------------------------

void ReadGIFStrings(TStream& Stream, std::vector<std::string>& Lines) {
  Lines.clear();
  for (;;) {
    uint8_t n = 0;
    if (ReadUpTo(Stream, &n, 1) != 1 || n == 0) return;
    std::string s(n, '\0');
    const size_t got = ReadUpTo(Stream, s.data(), n);
    s.resize(got);
    Lines.push_back(std::move(s));
    if (got < n) return;
  }
}

void WriteGIFStrings(TStream& Stream, const std::vector<std::string>& Lines) {
  for (const std::string& s : Lines)
    for (size_t at = 0; at < s.size(); at += 255) {
      const size_t n = std::min<size_t>(255, s.size() - at);
      WriteByte(Stream, static_cast<uint8_t>(n));
      Stream.WriteBuffer(s.data() + at, n);
    }
  WriteByte(Stream, 0);
}

void TGIFTextExtension::LoadFromStream(TStream& Stream) {
  TGIFExtension::LoadFromStream(Stream);
  uint8_t b[13];
  ReadOrRaise(Stream, b, 13);
  BlockSize = b[0];
  Left = GIFGetWord(b + 1);
  Top = GIFGetWord(b + 3);
  GridWidth = GIFGetWord(b + 5);
  GridHeight = GIFGetWord(b + 7);
  CharWidth = b[9];
  CharHeight = b[10];
  ForegroundColorIndex = b[11];
  BackgroundColorIndex = b[12];
  ReadGIFStrings(Stream, Text);
}

void TGIFTextExtension::SaveToStream(TStream& Stream) {
  TGIFExtension::SaveToStream(Stream);
  WriteByte(Stream, BlockSize);
  WriteWord(Stream, Left);
  WriteWord(Stream, Top);
  WriteWord(Stream, GridWidth);
  WriteWord(Stream, GridHeight);
  const uint8_t b[4] = {CharWidth, CharHeight, ForegroundColorIndex, BackgroundColorIndex};
  Stream.WriteBuffer(b, 4);
  WriteGIFStrings(Stream, Text);
}

void TGIFCommentExtension::LoadFromStream(TStream& Stream) {
  TGIFExtension::LoadFromStream(Stream);
  ReadGIFStrings(Stream, Text);
}

void TGIFCommentExtension::SaveToStream(TStream& Stream) {
  TGIFExtension::SaveToStream(Stream);
  WriteGIFStrings(Stream, Text);
}

// ---- Application -------------------------------------------------------------------

void TGIFApplicationExtension::SetIdentifier(const std::string& Id) {
  Identifier.fill(0);
  std::memcpy(Identifier.data(), Id.data(), std::min<size_t>(11, Id.size()));
}

void TGIFApplicationExtension::LoadFromStream(TStream& Stream) {
  TGIFExtension::LoadFromStream(Stream);
  const uint8_t size = ReadByteOrRaise(Stream);
  // Only 11 (and the short 10 of some writers) has a class that reads its data.
  if (size < 10 || size > 11) throw GIFException("Unsupported Application Extension block size");
  ReadOrRaise(Stream, Identifier.data(), 11);
  BlockSize = size;
  if (size == 10) {
    Stream.Seek(-1, TSeekOrigin::soCurrent);
    Identifier[10] = 0;
  }
  LoadData(Stream);
}

void TGIFApplicationExtension::SaveToStream(TStream& Stream) {
  TGIFExtension::SaveToStream(Stream);
  const uint8_t size = BlockSize == 10 ? 10 : 11;
  WriteByte(Stream, size);
  Stream.WriteBuffer(Identifier.data(), size);
  SaveData(Stream);
}

void TGIFApplicationExtension::LoadData(TStream&) {
  throw GIFException("Unsupported Application Extension block size");
}

void TGIFApplicationExtension::SaveData(TStream& Stream) { WriteByte(Stream, 0); }

TGIFAppExtNSLoop::TGIFAppExtNSLoop(TGIFSubImage* Frame) : TGIFApplicationExtension(Frame) {
  SetIdentifier("NETSCAPE2.0");
}

void TGIFAppExtNSLoop::LoadData(TStream& Stream) {
  uint8_t n = ReadByteOrRaise(Stream);
  while (n != 0) {
    const uint8_t id = ReadByteOrRaise(Stream);
    int32_t left = n - 1;
    if ((id & 7) == 1) {
      if (left < 2) throw GIFException("Invalid GIF data");
      uint8_t b[2];
      ReadOrRaise(Stream, b, 2);
      Loops = GIFGetWord(b);
      left -= 2;
    } else if ((id & 7) == 2) {
      if (left < 4) throw GIFException("Invalid GIF data");
      uint8_t b[4];
      ReadOrRaise(Stream, b, 4);
      BufferSize = static_cast<uint32_t>(b[0] | b[1] << 8 | b[2] << 16) | static_cast<uint32_t>(b[3]) << 24;
      left -= 4;
    }
    if (left > 0) {
      if (Stream.Remaining() < left) throw GIFException("Premature end of data");
      Stream.Seek(left, TSeekOrigin::soCurrent);
    }
    n = ReadByteOrRaise(Stream);
  }
}

void TGIFAppExtNSLoop::SaveData(TStream& Stream) {
  const uint8_t loop[4] = {3, 1, static_cast<uint8_t>(Loops), static_cast<uint8_t>(Loops >> 8)};
  Stream.WriteBuffer(loop, 4);
  if (BufferSize != 0) {
    const uint8_t buf[6] = {5,
                            2,
                            static_cast<uint8_t>(BufferSize),
                            static_cast<uint8_t>(BufferSize >> 8),
                            static_cast<uint8_t>(BufferSize >> 16),
                            static_cast<uint8_t>(BufferSize >> 24)};
    Stream.WriteBuffer(buf, 6);
  }
  WriteByte(Stream, 0);
}

void TGIFUnknownAppExtension::LoadData(TStream& Stream) {
  Blocks.clear();
  for (;;) {
    uint8_t n = 0;
    if (ReadUpTo(Stream, &n, 1) != 1 || n == 0) return;
    std::vector<uint8_t> b(n);
    const size_t got = ReadUpTo(Stream, b.data(), n);
    b.resize(got);
    if (got > 0) Blocks.push_back(std::move(b));
    if (got < n) return;
  }
}

void TGIFUnknownAppExtension::SaveData(TStream& Stream) {
  for (const auto& b : Blocks) {
    WriteByte(Stream, static_cast<uint8_t>(b.size()));
    Stream.WriteBuffer(b.data(), b.size());
  }
  WriteByte(Stream, 0);
}
