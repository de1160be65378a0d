#pragma once
// The raster engine's core types: the 32-bit pixel and its conversions, the
// integer, 16.16 and float points and rectangles, the gamma table, the small
// object model (class references, published properties, a class registry)
// and the base classes the bitmap, samplers, transformations and layers
// stand on: TPersistent, TNotifiablePersistent, TThreadPersistent, TCustomMap.
#include <any>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "platform_exceptions.h"

// One pixel 0xAARRGGBB; in memory B, G, R, A on little-endian.
using TColor32 = uint32_t;
// Signed 16.16 fixed point (65536 = 1.0).
using TFixed = int32_t;
// The class library's colour: 0x00BBGGRR; a negative value is a system colour
// whose low byte is the system colour index.
using TColor = int32_t;

constexpr TFixed FixedOne = 0x10000;
constexpr TFixed FixedHalf = 0x8000;

struct TPoint {
  int32_t X = 0, Y = 0;
  friend bool operator==(const TPoint&, const TPoint&) = default;
};
struct TFixedPoint {
  TFixed X = 0, Y = 0;
  friend bool operator==(const TFixedPoint&, const TFixedPoint&) = default;
};
struct TFloatPoint {
  float X = 0, Y = 0;
  friend bool operator==(const TFloatPoint&, const TFloatPoint&) = default;
};

// Right and Bottom are exclusive: (0, 0, W, H) covers W x H pixels.
struct TRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  friend bool operator==(const TRect&, const TRect&) = default;
};
struct TFixedRect {
  TFixed Left = 0, Top = 0, Right = 0, Bottom = 0;
  friend bool operator==(const TFixedRect&, const TFixedRect&) = default;
};
struct TFloatRect {
  float Left = 0, Top = 0, Right = 0, Bottom = 0;
  friend bool operator==(const TFloatRect&, const TFloatRect&) = default;
};

// A change notification: called with the object that changed. An empty
// function counts as unassigned.
using TNotifyEvent = std::function<void(void* Sender)>;

// Raised where the class library raised an assertion failure (an unpaired
// EndUpdate); raised in every build type.
VEMRA_DECLARE_EXCEPTION(EAssertionFailed, Exception);
// A class name that no registered class carries, or a class without a factory.
VEMRA_DECLARE_EXCEPTION(EClassNotFound, Exception);

// ---- Colours -----------------------------------------------------------------

// The platform's colour of system colour Index (0..30); unknown indices give 0.
TColor GetSysColor(int32_t Index);
// Platform colour to opaque ARGB; system colours are resolved first and the
// top byte of a non-negative colour is ignored.
TColor32 ArgbFromColor(TColor C);
// ARGB to platform colour 0x00BBGGRR; alpha is dropped.
TColor ColorFromArgb(TColor32 C);

constexpr TColor32 MakeArgb(int32_t R, int32_t G, int32_t B, int32_t A = 0xFF) {
  return (static_cast<TColor32>(A & 0xFF) << 24) | (static_cast<TColor32>(R & 0xFF) << 16) |
         (static_cast<TColor32>(G & 0xFF) << 8) | static_cast<TColor32>(B & 0xFF);
}
constexpr TColor32 GrayArgb(int32_t Intensity, int32_t A = 0xFF) {
  return MakeArgb(Intensity, Intensity, Intensity, A);
}
constexpr int32_t RedOf(TColor32 C) { return static_cast<int32_t>((C >> 16) & 0xFF); }
constexpr int32_t GreenOf(TColor32 C) { return static_cast<int32_t>((C >> 8) & 0xFF); }
constexpr int32_t BlueOf(TColor32 C) { return static_cast<int32_t>(C & 0xFF); }
constexpr int32_t AlphaOf(TColor32 C) { return static_cast<int32_t>(C >> 24); }
// Perceived brightness 0..255; the weights 61, 174 and 21 sum to 256.
constexpr int32_t IntensityOf(TColor32 C) {
  return (RedOf(C) * 61 + GreenOf(C) * 174 + BlueOf(C) * 21) >> 8;
}
// The colour's RGB with NewAlpha clamped to 0..255.
constexpr TColor32 SetAlphaOf(TColor32 C, int32_t NewAlpha) {
  const int32_t a = NewAlpha < 0 ? 0 : (NewAlpha > 255 ? 255 : NewAlpha);
  return (C & 0x00FFFFFFu) | (static_cast<TColor32>(a) << 24);
}

// The integer nearest V, ties to even, as nearbyint gives it, without the
// library call's save and restore of the floating-point state (which costs
// more than the rest of a colour conversion). With a p-bit significand
// (64 in extended precision), V plus 2^(p-1) with V's sign has no bits under
// the units when |V| < 2^(p-1), so the addition itself rounds; larger values
// are integers already.
inline long double RoundHalfEven(long double V) {
  constexpr long double Big = [] {
    long double B = 1;
    for (int i = 1; i < std::numeric_limits<long double>::digits; ++i) B *= 2;
    return B;
  }();
  if (!(V < Big && V > -Big)) return V;
  const long double Shift = V < 0 ? -Big : Big;
  const long double R = (V + Shift) - Shift;
  // A result of 0 keeps V's sign, as nearbyint's does.
  return R == 0 ? (std::signbit(V) ? -0.0L : 0.0L) : R;
}

// H, S and L in 0..1; the result is opaque.
TColor32 ArgbFromHsl(float H, float S, float L);
// Alpha is ignored; H, S and L come out in 0..1.
void HslFromArgb(TColor32 C, float& H, float& S, float& L);

// 256 entries round(255 * (i / 255) ^ Gamma), read by the bilinear pixel
// access; built with gamma 0.7 at start-up.
extern std::array<uint8_t, 256> GammaTable;
void BuildGammaTable(float Gamma);

// The bilinear interpolator behind every 24.8 read: WX and WY (0..255, larger
// values taken as 255) are the weights of the left and of the upper pixels;
// Top and Bottom point at the left pixel of each row's pair. A routine
// variable: the start-up picks the processor variant when the processor has
// the multimedia instructions, and the portable one when they are forced off.
using TInterpolator = TColor32 (*)(uint32_t WX, uint32_t WY, const TColor32* Top,
                                   const TColor32* Bottom);
extern TInterpolator Interpolator;
// Three portable CombinePixels: the rows first, then the two results by WY.
// This is the reference.
TColor32 InterpolatePortable(uint32_t WX, uint32_t WY, const TColor32* Top, const TColor32* Bottom);
// The same three mixes in 16-bit lanes as (first - second) * W + second * 256,
// shifted right by 8 with no rounding bias and saturated to bytes; null when
// this build has no such variant.
TInterpolator InterpolateProcessorVariant();
// Sets Interpolator to the processor variant (UseProcessor true, and only when
// the processor has it) or the portable one; returns whether the processor
// variant was chosen. Not safe while another thread reads pixels.
bool SelectInterpolator(bool UseProcessor);

// ---- Points and rectangles -----------------------------------------------------

// round(X * 65536), ties to even; values beyond the 16.16 range saturate.
TFixed FixedFromFloat(float X);
// X shl 16 (wraps like the 32-bit shift it stands for).
constexpr TFixed FixedFromInt(int32_t X) {
  return static_cast<TFixed>(static_cast<uint32_t>(X) << 16);
}

constexpr TPoint MakePoint(int32_t X, int32_t Y) { return TPoint{X, Y}; }
constexpr TFloatPoint MakeFloatPoint(float X, float Y) { return TFloatPoint{X, Y}; }
constexpr TFixedPoint MakeFixedPoint(TFixed X, TFixed Y) { return TFixedPoint{X, Y}; }
TPoint RoundFloatPoint(const TFloatPoint& P);
constexpr TFloatPoint FloatPointFromPoint(const TPoint& P) {
  return TFloatPoint{static_cast<float>(P.X), static_cast<float>(P.Y)};
}
constexpr TFixedPoint FixedPointFromPoint(const TPoint& P) {
  return TFixedPoint{FixedFromInt(P.X), FixedFromInt(P.Y)};
}

constexpr TRect MakeRect(int32_t L, int32_t T, int32_t R, int32_t B) { return TRect{L, T, R, B}; }
constexpr TFixedRect MakeFixedRect(TFixed L, TFixed T, TFixed R, TFixed B) {
  return TFixedRect{L, T, R, B};
}
constexpr TFloatRect MakeFloatRect(float L, float T, float R, float B) {
  return TFloatRect{L, T, R, B};
}
constexpr TFixedRect FixedRectFromRect(const TRect& R) {
  return TFixedRect{FixedFromInt(R.Left), FixedFromInt(R.Top), FixedFromInt(R.Right),
                    FixedFromInt(R.Bottom)};
}
constexpr TFloatRect FloatRectFromRect(const TRect& R) {
  return TFloatRect{static_cast<float>(R.Left), static_cast<float>(R.Top),
                    static_cast<float>(R.Right), static_cast<float>(R.Bottom)};
}

// Rectangle rounding modes: 0 each side to the nearest integer, 1 outward
// (the smallest integer rectangle that holds R), 2 inward (the largest one
// inside R; Right and Bottom raised to Left and Top when they cross). Any
// other mode leaves Dst untouched.
constexpr int32_t rrNearest = 0, rrOuter = 1, rrInner = 2;
void RoundFloatRect(TRect& Dst, const TFloatRect& R, int32_t Mode);
void RoundFixedRect(TRect& Dst, const TFixedRect& R, int32_t Mode);
TRect RoundFloatRect(const TFloatRect& R, int32_t Mode);
TRect RoundFixedRect(const TFixedRect& R, int32_t Mode);

// Dst = the overlap of R1 and R2. True also for an overlap of zero width or
// height; when the rectangles are apart, false and Dst = (0, 0, 0, 0).
bool IntersectRects(TRect& Dst, const TRect& R1, const TRect& R2);
bool IntersectRects(TFloatRect& Dst, const TFloatRect& R1, const TFloatRect& R2);
constexpr bool EqualRects(const TRect& R1, const TRect& R2) { return R1 == R2; }
void InflateRectBy(TRect& R, int32_t Dx, int32_t Dy);
void InflateRectBy(TFloatRect& R, float Dx, float Dy);
void OffsetRectBy(TRect& R, int32_t Dx, int32_t Dy);
void OffsetRectBy(TFloatRect& R, float Dx, float Dy);
constexpr bool IsRectEmpty(const TRect& R) { return R.Right <= R.Left || R.Bottom <= R.Top; }
constexpr bool IsFloatRectEmpty(const TFloatRect& R) {
  return R.Right <= R.Left || R.Bottom <= R.Top;
}
constexpr bool PointInRect(const TRect& R, const TPoint& P) {
  return P.X >= R.Left && P.X < R.Right && P.Y >= R.Top && P.Y < R.Bottom;
}
constexpr bool PointInRect(const TRect& R, int32_t X, int32_t Y) {
  return PointInRect(R, TPoint{X, Y});
}

// ---- Object model ----------------------------------------------------------------
// Classes that take part in name look-up, property copying or creation by name
// carry a class reference (TClass): their name as a string and their parent.
// VEMRA_CLASS(Name, Parent) as the first line of a class body supplies it.
// Factories are registered by an explicit start-up call (RegisterClass), never
// by static initialisers.

class TObject;
struct TMetaClass;
using TClass = const TMetaClass*;
using TClassFactory = std::function<std::unique_ptr<TObject>()>;

struct TMetaClass {
  const char* Name;
  TClass Parent;

  std::string ClassName() const { return Name; }
  // True for this class and every class derived from Ancestor.
  bool InheritsFrom(TClass Ancestor) const;
  // A new instance through the registered factory; EClassNotFound when the
  // class has none.
  std::unique_ptr<TObject> Create() const;
};

#define VEMRA_CLASS(Name, ParentClass)                          \
 public:                                                        \
  static TClass StaticClass() {                                 \
    static const TMetaClass meta{#Name, ParentClass::StaticClass()}; \
    return &meta;                                               \
  }                                                             \
  TClass ClassType() const override { return StaticClass(); }

// Kinds of published property values.
enum TTypeKind : uint8_t {
  tkUnknown,
  tkInteger,      // any integer type
  tkEnumeration,  // enumerations and booleans
  tkFloat,
  tkString,
  tkClass,        // a pointer to an object (copied with Assign)
  tkMethod,       // an event (a std::function)
};
using TTypeKinds = uint32_t;
constexpr TTypeKinds TypeKindBit(TTypeKind K) { return TTypeKinds{1} << K; }
constexpr TTypeKinds tkAny = 0xFFFFFFFFu;
// Every kind of plain property: all but events.
constexpr TTypeKinds tkProperties = tkAny & ~TypeKindBit(tkMethod);

// A property value: integers and enumerations as int64_t, floats as long
// double, strings, objects, and events in a std::any holding the event type.
using TPropValue = std::variant<std::monostate, int64_t, long double, std::string, TObject*, std::any>;

// One published property: a name, a kind, a getter and (unless read-only) a
// setter. The setter ignores a value it cannot convert to its own type.
struct TPropInfo {
  std::string Name;
  TTypeKind Kind = tkUnknown;
  std::function<TPropValue(const TObject&)> Get;
  std::function<void(TObject&, const TPropValue&)> Set;
};
using TPropList = std::vector<TPropInfo>;

// The root of every class of the object model.
class TObject {
 public:
  virtual ~TObject() = default;
  static TClass StaticClass() {
    static const TMetaClass meta{"TObject", nullptr};
    return &meta;
  }
  virtual TClass ClassType() const { return StaticClass(); }
  std::string ClassName() const { return ClassType()->Name; }
  bool InheritsFrom(TClass Ancestor) const { return ClassType()->InheritsFrom(Ancestor); }
  // Appends the published properties in declaration order; a class calls its
  // parent's first.
  virtual void GetPublishedProperties(TPropList& List) const { (void)List; }
  TPropList PublishedProperties() const {
    TPropList l;
    GetPublishedProperties(l);
    return l;
  }
};

// Adds Class with its factory to the program's class registry (a second
// registration of the same class replaces the factory).
void RegisterClass(TClass Class, TClassFactory Factory);
template <class T>
void RegisterClass() {
  RegisterClass(T::StaticClass(), [] { return std::unique_ptr<TObject>(std::make_unique<T>()); });
}
void UnregisterClass(TClass Class);
// The registered class of that exact (case-sensitive) name, or null.
TClass FindClass(const std::string& Name);
// The registered factory of Class, or an empty function.
TClassFactory ClassFactory(TClass Class);

// Property value conversion used by the property setters: false when V holds
// nothing that converts to T.
template <class T>
bool PropValueTo(const TPropValue& V, T& Out) {
  if constexpr (std::is_same_v<T, std::string>) {
    if (auto* s = std::get_if<std::string>(&V)) { Out = *s; return true; }
    return false;
  } else if constexpr (std::is_enum_v<T> || std::is_integral_v<T>) {
    if (auto* i = std::get_if<int64_t>(&V)) { Out = static_cast<T>(*i); return true; }
    return false;
  } else if constexpr (std::is_floating_point_v<T>) {
    if (auto* f = std::get_if<long double>(&V)) { Out = static_cast<T>(*f); return true; }
    if (auto* i = std::get_if<int64_t>(&V)) { Out = static_cast<T>(*i); return true; }
    return false;
  } else if constexpr (std::is_pointer_v<T> && std::is_base_of_v<TObject, std::remove_cv_t<std::remove_pointer_t<T>>>) {
    if (auto* o = std::get_if<TObject*>(&V)) {
      if (*o == nullptr) { Out = nullptr; return true; }
      if (auto* p = dynamic_cast<T>(*o)) { Out = p; return true; }
    }
    return false;
  } else {
    if (auto* a = std::get_if<std::any>(&V)) {
      if (auto* p = std::any_cast<T>(a)) { Out = *p; return true; }
    }
    return false;
  }
}

template <class T>
constexpr TTypeKind TypeKindOf() {
  using U = std::remove_cvref_t<T>;
  if constexpr (std::is_same_v<U, bool> || std::is_enum_v<U>) return tkEnumeration;
  else if constexpr (std::is_integral_v<U>) return tkInteger;
  else if constexpr (std::is_floating_point_v<U>) return tkFloat;
  else if constexpr (std::is_same_v<U, std::string>) return tkString;
  else if constexpr (std::is_pointer_v<U> && std::is_base_of_v<TObject, std::remove_cv_t<std::remove_pointer_t<U>>>) return tkClass;
  else return tkMethod;
}

template <class T>
TPropValue MakePropValue(const T& V) {
  using U = std::remove_cvref_t<T>;
  constexpr TTypeKind k = TypeKindOf<U>();
  if constexpr (k == tkEnumeration || k == tkInteger) return TPropValue{static_cast<int64_t>(V)};
  else if constexpr (k == tkFloat) return TPropValue{static_cast<long double>(V)};
  else if constexpr (k == tkString) return TPropValue{V};
  else if constexpr (k == tkClass) return TPropValue{const_cast<TObject*>(static_cast<const TObject*>(V))};
  else return TPropValue{std::any(V)};
}

// A property read and written through a getter and a setter of class C.
template <class C, class G, class S>
TPropInfo PublishedProperty(std::string Name, G (C::*Getter)() const, void (C::*Setter)(S)) {
  using V = std::remove_cvref_t<G>;
  TPropInfo p;
  p.Name = std::move(Name);
  p.Kind = TypeKindOf<V>();
  p.Get = [Getter](const TObject& o) { return MakePropValue<V>((static_cast<const C&>(o).*Getter)()); };
  p.Set = [Setter](TObject& o, const TPropValue& v) {
    std::remove_cvref_t<S> x{};
    if (PropValueTo(v, x)) (static_cast<C&>(o).*Setter)(x);
  };
  return p;
}
// A read-only property.
template <class C, class G>
TPropInfo PublishedProperty(std::string Name, G (C::*Getter)() const) {
  using V = std::remove_cvref_t<G>;
  TPropInfo p;
  p.Name = std::move(Name);
  p.Kind = TypeKindOf<V>();
  p.Get = [Getter](const TObject& o) { return MakePropValue<V>((static_cast<const C&>(o).*Getter)()); };
  return p;
}
// A property that is a public field of class C (events such as OnChange).
template <class C, class F>
TPropInfo PublishedField(std::string Name, F C::*Field) {
  TPropInfo p;
  p.Name = std::move(Name);
  p.Kind = TypeKindOf<F>();
  p.Get = [Field](const TObject& o) { return MakePropValue<F>(static_cast<const C&>(o).*Field); };
  p.Set = [Field](TObject& o, const TPropValue& v) {
    F x{};
    if (PropValueTo(v, x)) static_cast<C&>(o).*Field = std::move(x);
  };
  return p;
}

// The class library's persistent base: assignment between objects.
class TPersistent : public TObject {
  VEMRA_CLASS(TPersistent, TObject)
 public:
  // Copies Source into this object: Source->AssignTo(this); a null Source or
  // one that does not know this class raises EConvertError
  // "Cannot assign a <source class> to a <this class>".
  virtual void Assign(const TPersistent* Source);
  // Copies this object into Dest; the base raises the EConvertError above.
  // Not const because subclasses may lock or prepare themselves.
  virtual void AssignTo(TPersistent* Dest);

 protected:
  [[noreturn]] void AssignError(const TPersistent* Source) const;
};

// Change notification with nested update brackets: Changed is silent while
// an update is open.
class TNotifiablePersistent : public TPersistent {
  VEMRA_CLASS(TNotifiablePersistent, TPersistent)
 public:
  // Calls OnChange(this) when no update is open and OnChange is assigned.
  virtual void Changed();
  virtual void BeginUpdate();
  // Closes one update; sends no notification (callers call Changed after it).
  // Without an open update it raises EAssertionFailed
  // "Unpaired TThreadPersistent.EndUpdate" and the count stays 0.
  virtual void EndUpdate();
  int32_t UpdateCount() const { return FUpdateCount; }

  TNotifyEvent OnChange;

 protected:
  int32_t FUpdateCount = 0;
};

// BeginUpdate now, EndUpdate when the scope ends (also on an exception).
class TUpdateGuard {
 public:
  explicit TUpdateGuard(TNotifiablePersistent& Obj) : obj_(Obj) { obj_.BeginUpdate(); }
  ~TUpdateGuard() {
    try {
      obj_.EndUpdate();
    } catch (...) {
      // Only reachable when someone else closed our bracket; nothing to undo.
    }
  }
  TUpdateGuard(const TUpdateGuard&) = delete;
  TUpdateGuard& operator=(const TUpdateGuard&) = delete;

 private:
  TNotifiablePersistent& obj_;
};

// Adds a lock that one thread may take recursively, and a count of the Lock
// calls outstanding that other code may read at any time.
class TThreadPersistent : public TNotifiablePersistent {
  VEMRA_CLASS(TThreadPersistent, TNotifiablePersistent)
 public:
  // Counts the call, then waits for the lock.
  void Lock() const {
    FLockCount.fetch_add(1);
    FLock.lock();
  }
  // Releases the lock, then uncounts the call.
  void Unlock() const {
    FLock.unlock();
    FLockCount.fetch_sub(1);
  }
  int32_t LockCount() const { return FLockCount.load(); }
  // The lock itself, for objects that share it (the bitmap's font).
  std::recursive_mutex& LockObject() const { return FLock; }

 private:
  mutable std::recursive_mutex FLock;
  mutable std::atomic<int32_t> FLockCount{0};
};

// Lock now, Unlock when the scope ends.
class TLockGuard {
 public:
  explicit TLockGuard(const TThreadPersistent& Obj) : obj_(Obj) { obj_.Lock(); }
  ~TLockGuard() { obj_.Unlock(); }
  TLockGuard(const TLockGuard&) = delete;
  TLockGuard& operator=(const TLockGuard&) = delete;

 private:
  const TThreadPersistent& obj_;
};

class TGraphic;

// Adds a width and a height, with a resize notification.
class TCustomMap : public TThreadPersistent {
  VEMRA_CLASS(TCustomMap, TThreadPersistent)
 public:
  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  // Negative sizes become 0. The same size changes nothing and gives false;
  // otherwise ChangeSize, Changed, Resized, and true.
  virtual bool SetSize(int32_t NewWidth, int32_t NewHeight);
  bool SetWidth(int32_t NewWidth) { return SetSize(NewWidth, FHeight); }
  bool SetHeight(int32_t NewHeight) { return SetSize(FWidth, NewHeight); }
  // Takes the size of another map; null gives 0 x 0; any other class raises
  // Exception "Can't set size from '<class name>'" and changes nothing.
  bool SetSizeFrom(const TObject* Source);
  // Takes the size of a picture; null gives 0 x 0.
  bool SetSizeFrom(const TGraphic* Source);
  // SetSize(0, 0).
  virtual void Delete();
  virtual bool Empty() const { return FWidth == 0 || FHeight == 0; }

  TNotifyEvent OnResize;

 protected:
  // Stores the new size in Width and Height (the object's own fields);
  // subclasses reallocate their storage here.
  virtual void ChangeSize(int32_t& Width, int32_t& Height, int32_t NewWidth, int32_t NewHeight);
  // Calls OnResize(this) when assigned.
  virtual void Resized();

  int32_t FWidth = 0;
  int32_t FHeight = 0;
};

// The bitmap class of this unit lives in its own header part.
#if __has_include("raster_core_bitmap.h")
#include "raster_core_bitmap.h"
#endif
