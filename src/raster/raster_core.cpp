// Colour conversions, geometry helpers, the gamma table, the class registry
// and the notifying base classes of the raster engine.
#include "raster_core.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform_graphics.h"

std::array<uint8_t, 256> GammaTable{};

namespace {

// A float result as int32: ties to even, saturated, NaN as 0, so that a wild
// coordinate never turns into undefined behaviour.
int32_t SaturatedRound(long double V) {
  if (std::isnan(V)) return 0;
  const long double r = RoundHalfEven(V);
  if (r >= 2147483647.0L) return std::numeric_limits<int32_t>::max();
  if (r <= -2147483648.0L) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(r);
}

int32_t SaturatedFloor(long double V) { return SaturatedRound(std::floor(V)); }
int32_t SaturatedCeil(long double V) { return SaturatedRound(std::ceil(V)); }

// The 16.16 roundings, widened so that values near the int32 limits do not overflow.
int32_t FixedFloorOf(TFixed X) { return X >> 16; }
int32_t FixedCeilOf(TFixed X) { return static_cast<int32_t>((static_cast<int64_t>(X) + 0xFFFF) >> 16); }
int32_t FixedRoundOf(TFixed X) { return static_cast<int32_t>((static_cast<int64_t>(X) + 0x7FFF) >> 16); }

// The default desktop colours, 0x00BBGGRR, by system colour index.
constexpr TColor kSysColors[31] = {
    0xC8C8C8, 0x000000, 0xD1B499, 0xDBCDBF, 0xF0F0F0, 0xFFFFFF, 0x646464, 0x000000,
    0x000000, 0x000000, 0xB4B4B4, 0xFCF7F4, 0xABABAB, 0xFF9933, 0xFFFFFF, 0xF0F0F0,
    0xA0A0A0, 0x6D6D6D, 0x000000, 0x544E43, 0xFFFFFF, 0x696969, 0xE3E3E3, 0x000000,
    0xE1FFFF, 0x000000, 0xCC6600, 0xEAD1B9, 0xF2E4D7, 0xFF9933, 0xF0F0F0,
};

}  // namespace

// ---- Colours -----------------------------------------------------------------

TColor GetSysColor(int32_t Index) {
  if (Index < 0 || Index >= 31) return 0;
  return kSysColors[Index];
}

TColor32 ArgbFromColor(TColor C) {
  if (C < 0) C = GetSysColor(C & 0xFF);
  const uint32_t u = static_cast<uint32_t>(C);
  return 0xFF000000u | ((u & 0xFF) << 16) | (u & 0xFF00) | ((u >> 16) & 0xFF);
}

TColor ColorFromArgb(TColor32 C) {
  return static_cast<TColor>(((C & 0xFF) << 16) | (C & 0xFF00) | ((C >> 16) & 0xFF));
}

TColor32 ArgbFromHsl(float H, float S, float L) {
  // The thirds stay in extended precision while M1 and M2 are stored as
  // floats: together these decide the last bit of a channel.
  constexpr long double OneThird = 1.0L / 3.0L;
  constexpr long double TwoThirds = 2.0L / 3.0L;
  if (S == 0) {
    const int32_t v = SaturatedRound(static_cast<long double>(L) * 255);
    return GrayArgb(v);
  }
  const float M2 = (L <= 0.5f) ? static_cast<float>(static_cast<long double>(L) * (1 + static_cast<long double>(S)))
                               : static_cast<float>(static_cast<long double>(L) + S - static_cast<long double>(L) * S);
  const float M1 = static_cast<float>(2 * static_cast<long double>(L) - M2);
  auto hueToValue = [&](float h) -> int32_t {
    h = static_cast<float>(h - std::floor(static_cast<long double>(h)));
    long double v;
    if (6 * static_cast<long double>(h) < 1)
      v = M1 + (static_cast<long double>(M2) - M1) * h * 6;
    else if (2 * static_cast<long double>(h) < 1)
      v = M2;
    else if (3 * static_cast<long double>(h) < 2)
      v = M1 + (static_cast<long double>(M2) - M1) * (TwoThirds - h) * 6;
    else
      v = M1;
    return SaturatedRound(255 * v);
  };
  const int32_t r = hueToValue(static_cast<float>(H + OneThird));
  const int32_t g = hueToValue(H);
  const int32_t b = hueToValue(static_cast<float>(H - OneThird));
  return MakeArgb(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255));
}

void HslFromArgb(TColor32 C, float& H, float& S, float& L) {
  const float R = static_cast<float>(RedOf(C) / 255.0L);
  const float G = static_cast<float>(GreenOf(C) / 255.0L);
  const float B = static_cast<float>(BlueOf(C) / 255.0L);
  const float Max = std::max(R, std::max(G, B));
  const float Min = std::min(R, std::min(G, B));
  L = static_cast<float>((static_cast<long double>(Max) + Min) / 2);
  if (Max == Min) {
    H = 0;
    S = 0;
    return;
  }
  const float Delta = Max - Min;
  if (L < 0.5f)
    S = static_cast<float>(Delta / (static_cast<long double>(Max) + Min));
  else
    S = static_cast<float>(Delta / (2 - static_cast<long double>(Max) - Min));
  if (R == Max)
    H = static_cast<float>((static_cast<long double>(G) - B) / Delta);
  else if (G == Max)
    H = static_cast<float>((static_cast<long double>(B) - R) / Delta + 2);
  else
    H = static_cast<float>((static_cast<long double>(R) - G) / Delta + 4);
  H = H / 6;
  if (H < 0) H = H + 1;
}

void BuildGammaTable(float Gamma) {
  const long double g = Gamma;
  for (int i = 0; i < 256; ++i) {
    const long double v = 255 * std::pow(i / 255.0L, g);
    GammaTable[i] = static_cast<uint8_t>(std::clamp(SaturatedRound(v), 0, 255));
  }
}

// ---- Points and rectangles -----------------------------------------------------

TFixed FixedFromFloat(float X) { return SaturatedRound(static_cast<long double>(X) * 65536); }

TPoint RoundFloatPoint(const TFloatPoint& P) { return TPoint{SaturatedRound(P.X), SaturatedRound(P.Y)}; }

void RoundFloatRect(TRect& Dst, const TFloatRect& R, int32_t Mode) {
  switch (Mode) {
    case rrNearest:
      Dst = TRect{SaturatedRound(R.Left), SaturatedRound(R.Top), SaturatedRound(R.Right), SaturatedRound(R.Bottom)};
      break;
    case rrOuter:
      Dst = TRect{SaturatedFloor(R.Left), SaturatedFloor(R.Top), SaturatedCeil(R.Right), SaturatedCeil(R.Bottom)};
      break;
    case rrInner:
      Dst = TRect{SaturatedCeil(R.Left), SaturatedCeil(R.Top), SaturatedFloor(R.Right), SaturatedFloor(R.Bottom)};
      if (Dst.Right < Dst.Left) Dst.Right = Dst.Left;
      if (Dst.Bottom < Dst.Top) Dst.Bottom = Dst.Top;
      break;
    default:
      break;
  }
}

void RoundFixedRect(TRect& Dst, const TFixedRect& R, int32_t Mode) {
  switch (Mode) {
    case rrNearest:
      Dst = TRect{FixedRoundOf(R.Left), FixedRoundOf(R.Top), FixedRoundOf(R.Right), FixedRoundOf(R.Bottom)};
      break;
    case rrOuter:
      Dst = TRect{FixedFloorOf(R.Left), FixedFloorOf(R.Top), FixedCeilOf(R.Right), FixedCeilOf(R.Bottom)};
      break;
    case rrInner:
      Dst = TRect{FixedCeilOf(R.Left), FixedCeilOf(R.Top), FixedFloorOf(R.Right), FixedFloorOf(R.Bottom)};
      if (Dst.Right < Dst.Left) Dst.Right = Dst.Left;
      if (Dst.Bottom < Dst.Top) Dst.Bottom = Dst.Top;
      break;
    default:
      break;
  }
}

TRect RoundFloatRect(const TFloatRect& R, int32_t Mode) {
  TRect d;
  RoundFloatRect(d, R, Mode);
  return d;
}

TRect RoundFixedRect(const TFixedRect& R, int32_t Mode) {
  TRect d;
  RoundFixedRect(d, R, Mode);
  return d;
}

bool IntersectRects(TRect& Dst, const TRect& R1, const TRect& R2) {
  TRect d{std::max(R1.Left, R2.Left), std::max(R1.Top, R2.Top), std::min(R1.Right, R2.Right),
          std::min(R1.Bottom, R2.Bottom)};
  const bool result = d.Right >= d.Left && d.Bottom >= d.Top;
  Dst = result ? d : TRect{};
  return result;
}

bool IntersectRects(TFloatRect& Dst, const TFloatRect& R1, const TFloatRect& R2) {
  TFloatRect d{std::max(R1.Left, R2.Left), std::max(R1.Top, R2.Top), std::min(R1.Right, R2.Right),
               std::min(R1.Bottom, R2.Bottom)};
  const bool result = d.Right >= d.Left && d.Bottom >= d.Top;
  Dst = result ? d : TFloatRect{};
  return result;
}

void InflateRectBy(TRect& R, int32_t Dx, int32_t Dy) {
  R.Left -= Dx;
  R.Top -= Dy;
  R.Right += Dx;
  R.Bottom += Dy;
}

void InflateRectBy(TFloatRect& R, float Dx, float Dy) {
  R.Left -= Dx;
  R.Top -= Dy;
  R.Right += Dx;
  R.Bottom += Dy;
}

void OffsetRectBy(TRect& R, int32_t Dx, int32_t Dy) {
  R.Left += Dx;
  R.Right += Dx;
  R.Top += Dy;
  R.Bottom += Dy;
}

void OffsetRectBy(TFloatRect& R, float Dx, float Dy) {
  R.Left += Dx;
  R.Right += Dx;
  R.Top += Dy;
  R.Bottom += Dy;
}

// ---- Object model ----------------------------------------------------------------

namespace {

struct TClassRegistry {
  std::mutex Lock;
  std::vector<std::pair<TClass, TClassFactory>> Entries;
};

TClassRegistry& Registry() {
  static TClassRegistry r;
  return r;
}

}  // namespace

bool TMetaClass::InheritsFrom(TClass Ancestor) const {
  for (TClass c = this; c != nullptr; c = c->Parent)
    if (c == Ancestor) return true;
  return false;
}

std::unique_ptr<TObject> TMetaClass::Create() const {
  TClassFactory f = ClassFactory(this);
  if (!f) throw EClassNotFound(std::string("Class ") + Name + " not found");
  return f();
}

void RegisterClass(TClass Class, TClassFactory Factory) {
  if (Class == nullptr) return;
  auto& r = Registry();
  std::lock_guard<std::mutex> g(r.Lock);
  for (auto& e : r.Entries)
    if (e.first == Class) {
      e.second = std::move(Factory);
      return;
    }
  r.Entries.emplace_back(Class, std::move(Factory));
}

void UnregisterClass(TClass Class) {
  auto& r = Registry();
  std::lock_guard<std::mutex> g(r.Lock);
  std::erase_if(r.Entries, [Class](const auto& e) { return e.first == Class; });
}

TClass FindClass(const std::string& Name) {
  auto& r = Registry();
  std::lock_guard<std::mutex> g(r.Lock);
  for (const auto& e : r.Entries)
    if (Name == e.first->Name) return e.first;
  return nullptr;
}

TClassFactory ClassFactory(TClass Class) {
  auto& r = Registry();
  std::lock_guard<std::mutex> g(r.Lock);
  for (const auto& e : r.Entries)
    if (e.first == Class) return e.second;
  return {};
}

// ---- Base classes ----------------------------------------------------------------

void TPersistent::Assign(const TPersistent* Source) {
  if (Source == nullptr) AssignError(nullptr);
  // AssignTo reads its own object only; it is not const because overrides may lock.
  const_cast<TPersistent*>(Source)->AssignTo(this);
}

void TPersistent::AssignTo(TPersistent* Dest) {
  if (Dest == nullptr) throw EConvertError("Cannot assign a " + ClassName() + " to a nil");
  Dest->AssignError(this);
}

void TPersistent::AssignError(const TPersistent* Source) const {
  const std::string src = Source ? Source->ClassName() : std::string("nil");
  throw EConvertError("Cannot assign a " + src + " to a " + ClassName());
}

void TNotifiablePersistent::Changed() {
  if (FUpdateCount == 0 && OnChange) OnChange(this);
}

void TNotifiablePersistent::BeginUpdate() { ++FUpdateCount; }

void TNotifiablePersistent::EndUpdate() {
  if (FUpdateCount < 1) {
    FUpdateCount = 0;
    throw EAssertionFailed("Unpaired TThreadPersistent.EndUpdate");
  }
  --FUpdateCount;
}

bool TCustomMap::SetSize(int32_t NewWidth, int32_t NewHeight) {
  if (NewWidth < 0) NewWidth = 0;
  if (NewHeight < 0) NewHeight = 0;
  if (NewWidth == FWidth && NewHeight == FHeight) return false;
  ChangeSize(FWidth, FHeight, NewWidth, NewHeight);
  Changed();
  Resized();
  return true;
}

bool TCustomMap::SetSizeFrom(const TObject* Source) {
  if (Source == nullptr) return SetSize(0, 0);
  if (auto* m = dynamic_cast<const TCustomMap*>(Source)) return SetSize(m->Width(), m->Height());
  throw Exception("Can't set size from '" + Source->ClassName() + "'");
}

bool TCustomMap::SetSizeFrom(const TGraphic* Source) {
  if (Source == nullptr) return SetSize(0, 0);
  return SetSize(Source->Width(), Source->Height());
}

void TCustomMap::Delete() { SetSize(0, 0); }

void TCustomMap::ChangeSize(int32_t& Width, int32_t& Height, int32_t NewWidth, int32_t NewHeight) {
  Width = NewWidth;
  Height = NewHeight;
}

void TCustomMap::Resized() {
  if (OnResize) OnResize(this);
}
