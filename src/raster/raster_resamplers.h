#pragma once
// Moving pixels between bitmaps: unscaled and scaled transfers, the
// reconstruction kernels, the resampler and sampler classes that read a
// bitmap at arbitrary points, and the registries that create them by name.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform_exceptions.h"
#include "raster_core.h"

VEMRA_DECLARE_EXCEPTION(EBitmapException, Exception);
VEMRA_DECLARE_EXCEPTION(ESrcInvalidException, Exception);
VEMRA_DECLARE_EXCEPTION(ENestedException, Exception);

class TTransformation;

// ---- kernels ----------------------------------------------------------------

// A one-dimensional reconstruction filter.
class TCustomKernel : public TPersistent {
  VEMRA_CLASS(TCustomKernel, TPersistent)
 public:
  // Whether a weighted sum through this kernel can leave 0..255.
  virtual bool RangeCheck() const { return false; }
  virtual float Filter(float x) const = 0;
  virtual float GetWidth() const = 0;
  virtual std::unique_ptr<TCustomKernel> Clone() const = 0;

  // Onto another kernel: copies every published property both classes have.
  void AssignTo(TPersistent* Dst) override;

  // Receives Changed whenever a property changes (none by default).
  void SetObserver(TNotifiablePersistent* Observer) { FObserver = Observer; }
  TNotifiablePersistent* Observer() const { return FObserver; }

 protected:
  void Changed();

 private:
  TNotifiablePersistent* FObserver = nullptr;
};

#define VEMRA_KERNEL_CLASS(Name, Parent)                  \
  VEMRA_CLASS(Name, Parent)                               \
 public:                                                  \
  std::unique_ptr<TCustomKernel> Clone() const override { \
    return std::make_unique<Name>(*this);                 \
  }

class TBoxKernel : public TCustomKernel {
  VEMRA_KERNEL_CLASS(TBoxKernel, TCustomKernel)
  float Filter(float x) const override;
  float GetWidth() const override { return 1.0f; }
};

class TLinearKernel : public TCustomKernel {
  VEMRA_KERNEL_CLASS(TLinearKernel, TCustomKernel)
  float Filter(float x) const override;
  float GetWidth() const override { return 1.0f; }
};

class TCosineKernel : public TCustomKernel {
  VEMRA_KERNEL_CLASS(TCosineKernel, TCustomKernel)
  float Filter(float x) const override;
  float GetWidth() const override { return 1.0f; }
};

class TSplineKernel : public TCustomKernel {
  VEMRA_KERNEL_CLASS(TSplineKernel, TCustomKernel)
  bool RangeCheck() const override { return true; }
  float Filter(float x) const override;
  float GetWidth() const override { return 2.0f; }
};

class TMitchellKernel : public TCustomKernel {
  VEMRA_KERNEL_CLASS(TMitchellKernel, TCustomKernel)
  bool RangeCheck() const override { return true; }
  float Filter(float x) const override;
  float GetWidth() const override { return 2.0f; }
};

class TCubicKernel : public TCustomKernel {
  VEMRA_KERNEL_CLASS(TCubicKernel, TCustomKernel)
  bool RangeCheck() const override { return true; }
  float Filter(float x) const override;
  float GetWidth() const override { return 2.0f; }
  float Coeff() const { return FCoeff; }
  void SetCoeff(float Value);
  void GetPublishedProperties(TPropList& List) const override;

 private:
  float FCoeff = -0.5f;
};

class THermiteKernel : public TCustomKernel {
  VEMRA_KERNEL_CLASS(THermiteKernel, TCustomKernel)
  bool RangeCheck() const override { return true; }
  float Filter(float x) const override;
  float GetWidth() const override { return 2.0f; }
  float Bias() const { return FBias; }
  float Tension() const { return FTension; }
  void SetBias(float Value);
  void SetTension(float Value);
  void GetPublishedProperties(TPropList& List) const override;

 private:
  float FBias = 0.0f;
  float FTension = 0.0f;
};

class TSinshKernel : public TCustomKernel {
  VEMRA_KERNEL_CLASS(TSinshKernel, TCustomKernel)
  bool RangeCheck() const override { return true; }
  float Filter(float x) const override;
  float GetWidth() const override { return FWidth; }
  float Width() const { return FWidth; }
  float Coeff() const { return FCoeff; }
  void SetWidth(float Value);
  // Zero is ignored.
  void SetCoeff(float Value);
  void GetPublishedProperties(TPropList& List) const override;

 private:
  float FWidth = 3.0f;
  float FCoeff = 0.5f;
};

class TWindowedSincKernel : public TCustomKernel {
  VEMRA_CLASS(TWindowedSincKernel, TCustomKernel)
 public:
  bool RangeCheck() const override { return true; }
  float Filter(float x) const override;
  float GetWidth() const override { return FWidth; }
  virtual float Window(float x) const = 0;
  float Width() const { return FWidth; }
  // Limited to at most 4.
  void SetWidth(float Value);
  void GetPublishedProperties(TPropList& List) const override;

 protected:
  float FWidth = 3.0f;
};

class TLanczosKernel : public TWindowedSincKernel {
  VEMRA_KERNEL_CLASS(TLanczosKernel, TWindowedSincKernel)
  float Window(float x) const override;
};

class TGaussianKernel : public TWindowedSincKernel {
  VEMRA_KERNEL_CLASS(TGaussianKernel, TWindowedSincKernel)
  float Window(float x) const override;
  float Sigma() const { return FSigma; }
  // Zero is ignored.
  void SetSigma(float Value);
  void GetPublishedProperties(TPropList& List) const override;

 private:
  float FSigma = 1.33f;
};

class TBlackmanKernel : public TWindowedSincKernel {
  VEMRA_KERNEL_CLASS(TBlackmanKernel, TWindowedSincKernel)
  float Window(float x) const override;
};

class THannKernel : public TWindowedSincKernel {
  VEMRA_KERNEL_CLASS(THannKernel, TWindowedSincKernel)
  float Window(float x) const override;
};

class THammingKernel : public TWindowedSincKernel {
  VEMRA_KERNEL_CLASS(THammingKernel, TWindowedSincKernel)
  float Window(float x) const override;
};

#undef VEMRA_KERNEL_CLASS

// ---- kernel registry ----------------------------------------------------------

// The kernel classes in registration order, found by name; their instances
// come from the factories of the program's class registry (RegisterClass).
void RegisterKernel(TClass KernelClass);
// The registered class of that exact name (case-sensitive), or null.
TClass FindKernelClass(const std::string& Name);
const std::vector<TClass>& KernelClassList();
// A new kernel of the registered class Name, or null.
std::unique_ptr<TCustomKernel> CreateKernelByName(const std::string& Name);

// ---- samplers and resamplers ------------------------------------------------

enum TPixelAccessMode : uint8_t { pamUnsafe, pamSafe, pamWrap, pamTransparentEdge };
enum TKernelMode : uint8_t { kmDynamic, kmTableNearest, kmTableLinear };

// Answers which colour lies at a point given in integer, 16.16 fixed-point or
// float coordinates. The base forms convert into each other; a concrete sampler
// overrides at least the fixed or the float form.
class TCustomSampler : public TNotifiablePersistent {
  VEMRA_CLASS(TCustomSampler, TNotifiablePersistent)
 public:
  virtual TColor32 GetSampleInt(int32_t X, int32_t Y);
  virtual TColor32 GetSampleFixed(TFixed X, TFixed Y);
  virtual TColor32 GetSampleFloat(float X, float Y);
  virtual void PrepareSampling() {}
  virtual void FinalizeSampling() {}
  virtual bool HasBounds() const { return false; }
  virtual TRect GetSampleBounds() const;
  // Whole rows, between PrepareSampling and FinalizeSampling: when
  // CanSampleRows is true, SampleRow puts GetSampleInt(x, Y) for X0 <= x < X1
  // into Out, and several threads may sample rows at once.
  virtual bool CanSampleRows() const { return false; }
  virtual void SampleRow(int32_t Y, int32_t X0, int32_t X1, TColor32* Out);
};

class TCustomResampler : public TCustomSampler {
  VEMRA_CLASS(TCustomResampler, TCustomSampler)
 public:
  virtual float GetWidth() const = 0;
  virtual void Resample(TBitmap32* Dst, const TRect& DstRect, const TRect& DstClip, TBitmap32* Src,
                        const TRect& SrcRect, TDrawMode CombineOp,
                        const TPixelCombineEvent& CombineCallBack) = 0;
};

// Which transformer wraps a resampler when a bitmap is drawn through a
// transformation.
enum TTransformerClass : uint8_t { tcTransformer, tcNearestTransformer };

// A resampler bound to a bitmap (or unbound). Constructing one with a bitmap
// makes it that bitmap's resampler: the bitmap owns it from then on and frees
// the one it had.
class TBitmap32Resampler : public TCustomResampler {
  VEMRA_CLASS(TBitmap32Resampler, TCustomResampler)
 public:
  TBitmap32Resampler() = default;
  explicit TBitmap32Resampler(TBitmap32* Bitmap);

  TBitmap32* Bitmap() const { return FBitmap; }
  TTransformerClass TransformerClass() const { return FTransformerClass; }
  TPixelAccessMode PixelAccessMode() const { return FPixelAccessMode; }
  void SetPixelAccessMode(TPixelAccessMode Value);

  void Changed() override;
  void PrepareSampling() override;
  bool HasBounds() const override { return true; }
  TRect GetSampleBounds() const override;
  // Onto another bitmap resampler: copies the published properties.
  void AssignTo(TPersistent* Dst) override;
  void GetPublishedProperties(TPropList& List) const override;

 protected:
  friend TBitmap32Resampler* BindResampler(std::unique_ptr<TBitmap32Resampler> R, TBitmap32* Bitmap);
  TBitmap32* FBitmap = nullptr;
  TRect FClipRect;
  TTransformerClass FTransformerClass = tcTransformer;
  TPixelAccessMode FPixelAccessMode = pamSafe;
};

class TNearestResampler : public TBitmap32Resampler {
  VEMRA_CLASS(TNearestResampler, TBitmap32Resampler)
 public:
  TNearestResampler();
  explicit TNearestResampler(TBitmap32* Bitmap);
  float GetWidth() const override { return 1.0f; }
  TColor32 GetSampleInt(int32_t X, int32_t Y) override;
  TColor32 GetSampleFixed(TFixed X, TFixed Y) override;
  TColor32 GetSampleFloat(float X, float Y) override;
  void PrepareSampling() override;
  void Resample(TBitmap32* Dst, const TRect& DstRect, const TRect& DstClip, TBitmap32* Src,
                const TRect& SrcRect, TDrawMode CombineOp,
                const TPixelCombineEvent& CombineCallBack) override;

 private:
  TColor32 GetPixelTransparentEdge(int32_t X, int32_t Y) const;
};

class TLinearResampler : public TBitmap32Resampler {
  VEMRA_CLASS(TLinearResampler, TBitmap32Resampler)
 public:
  TLinearResampler();
  explicit TLinearResampler(TBitmap32* Bitmap);
  float GetWidth() const override { return 1.0f; }
  TColor32 GetSampleFixed(TFixed X, TFixed Y) override;
  TColor32 GetSampleFloat(float X, float Y) override;
  void Resample(TBitmap32* Dst, const TRect& DstRect, const TRect& DstClip, TBitmap32* Src,
                const TRect& SrcRect, TDrawMode CombineOp,
                const TPixelCombineEvent& CombineCallBack) override;

 protected:
  TColor32 GetPixelTransparentEdge(TFixed X, TFixed Y) const;
  TLinearKernel FLinearKernel;
};

class TDraftResampler : public TLinearResampler {
  VEMRA_CLASS(TDraftResampler, TLinearResampler)
 public:
  TDraftResampler() = default;
  explicit TDraftResampler(TBitmap32* Bitmap) : TLinearResampler(Bitmap) {}
  void Resample(TBitmap32* Dst, const TRect& DstRect, const TRect& DstClip, TBitmap32* Src,
                const TRect& SrcRect, TDrawMode CombineOp,
                const TPixelCombineEvent& CombineCallBack) override;
};

class TKernelResampler : public TBitmap32Resampler {
  VEMRA_CLASS(TKernelResampler, TBitmap32Resampler)
 public:
  TKernelResampler();
  explicit TKernelResampler(TBitmap32* Bitmap);
  ~TKernelResampler() override;
  float GetWidth() const override { return FKernel->GetWidth(); }
  TColor32 GetSampleFloat(float X, float Y) override;
  void PrepareSampling() override;
  void FinalizeSampling() override;
  void Resample(TBitmap32* Dst, const TRect& DstRect, const TRect& DstClip, TBitmap32* Src,
                const TRect& SrcRect, TDrawMode CombineOp,
                const TPixelCombineEvent& CombineCallBack) override;
  void GetPublishedProperties(TPropList& List) const override;

  TCustomKernel* Kernel() const { return FKernel.get(); }
  // A null or the current kernel is ignored; otherwise the old one is freed.
  void SetKernel(std::unique_ptr<TCustomKernel> Value);
  std::string KernelClassName() const { return FKernel->ClassName(); }
  // Looks the name up in the kernel registry; unknown names change nothing.
  void SetKernelClassName(const std::string& Value);
  TKernelMode KernelMode() const { return FKernelMode; }
  void SetKernelMode(TKernelMode Value);
  int32_t TableSize() const { return FTableSize; }
  // At least 2.
  void SetTableSize(int32_t Value);

  // What a run of samples reads: Picture's pixels placed at (Left, Top) of a
  // canvas whose other pixels are 0, cut to Clip, with Outer beyond it.
  struct TCanvas {
    const TBitmap32* Picture = nullptr;
    int32_t Left = 0, Top = 0;
    TRect Clip{};
    TColor32 Outer = 0;
  };
  // The canvas GetSampleFloat reads while sampling: the bound bitmap with the
  // clip rectangle and outer colour taken when sampling began.
  TCanvas BoundCanvas() const { return TCanvas{FBitmap, 0, 0, FClipRect, FOuterColor}; }
  // True when SampleFixedRun gives what GetSampleFloat gives: clipped access
  // (pamSafe), a kernel of at most 8 taps each side, and in the table modes a
  // table prepared for the present kernel.
  bool CanSampleRuns() const;
  // GetSampleFixed at each of the Count 16.16 points P, from Canvas, into Out.
  // Only the taps the kernel weighs are read; a sample whose taps all lie
  // inside the picture takes a path without edge tests. Reads nothing but the
  // kernel, the table and the canvas, so several threads may sample at once.
  void SampleFixedRun(const TFixedPoint* P, int32_t Count, TColor32* Out, const TCanvas& Canvas) const;

 private:
  std::unique_ptr<TCustomKernel> FKernel;
  TKernelMode FKernelMode = kmDynamic;
  int32_t FTableSize = 32;
  // Weight table of the table modes while sampling: TableSize + 1 rows of
  // 2W + 1 weights.
  std::vector<int32_t> FWeightTable;
  int32_t FTableWidth = 0;
  TColor32 FOuterColor = 0;
  // Per-sample tap weights, sized for the kernel's width.
  std::vector<int32_t> FTapWeightX, FTapWeightY;
  // The weights of the 2W + 1 taps for the fraction F (a tap's distance
  // beyond the position), by the kernel mode; they sum to 256.
  void TapWeights(float F, int32_t W, int32_t* Out) const;

  // The weights of every fraction a 16.16 point can have (m / 65536), made on
  // the first run of samples and dropped when sampling is prepared again.
  // Fraction m uses the weight set Set[Index[m]]: the taps First .. First +
  // Count - 1 carry the non-zero weights W[0 .. Count - 1] (the rest 0). Far
  // fewer sets than fractions exist, so the sets stay in the cache. Usable
  // only when every weight fits 16 bits and a kernel has at most 8 taps.
  struct alignas(32) TWeightSet {
    std::array<int16_t, 8> W{};
    uint8_t First = 0, Count = 0;
  };
  struct TFractionWeights {
    std::vector<uint16_t> Index;
    std::vector<TWeightSet> Set;
    bool Usable = false;
  };
  const TFractionWeights& FractionWeights() const;
  mutable std::mutex FFractionLock;
  mutable std::atomic<bool> FFractionReady{false};
  mutable TFractionWeights FFractions;
};

// Samplers chained in front of another sampler.
class TNestedSampler : public TCustomSampler {
  VEMRA_CLASS(TNestedSampler, TCustomSampler)
 public:
  TNestedSampler() = default;
  explicit TNestedSampler(TCustomSampler* Sampler) { SetSampler(Sampler); }
  TCustomSampler* Sampler() const { return FSampler; }
  void SetSampler(TCustomSampler* Value) { FSampler = Value; }
  TColor32 GetSampleInt(int32_t X, int32_t Y) override;
  TColor32 GetSampleFixed(TFixed X, TFixed Y) override;
  TColor32 GetSampleFloat(float X, float Y) override;
  void PrepareSampling() override;
  void FinalizeSampling() override;
  bool HasBounds() const override;
  TRect GetSampleBounds() const override;
  void AssignTo(TPersistent* Dst) override;
  void GetPublishedProperties(TPropList& List) const override;

 protected:
  TCustomSampler& Nested() const;
  TCustomSampler* FSampler = nullptr;
};

// Maps every destination point back through a transformation and asks the
// sampler it wraps.
class TTransformer : public TNestedSampler {
  VEMRA_CLASS(TTransformer, TNestedSampler)
 public:
  TTransformer(TCustomSampler* Sampler, TTransformation* Transformation)
      : TNestedSampler(Sampler), FTransformation(Transformation) {}
  TTransformation* Transformation() const { return FTransformation; }
  void SetTransformation(TTransformation* Value) { FTransformation = Value; }
  TColor32 GetSampleInt(int32_t X, int32_t Y) override;
  TColor32 GetSampleFixed(TFixed X, TFixed Y) override;
  TColor32 GetSampleFloat(float X, float Y) override;
  void PrepareSampling() override;
  bool HasBounds() const override;
  TRect GetSampleBounds() const override;
  void GetPublishedProperties(TPropList& List) const override;
  // Rows of an affine transformation over a kernel resampler with clipped
  // access: the points of a row go to the resampler's run in one call.
  bool CanSampleRows() const override;
  void SampleRow(int32_t Y, int32_t X0, int32_t X1, TColor32* Out) override;

 protected:
  TTransformation* FTransformation = nullptr;
};

// The same, reading whole pixels of the wrapped sampler.
class TNearestTransformer : public TTransformer {
  VEMRA_CLASS(TNearestTransformer, TTransformer)
 public:
  using TTransformer::TTransformer;
  TColor32 GetSampleInt(int32_t X, int32_t Y) override;
  TColor32 GetSampleFixed(TFixed X, TFixed Y) override;
  TColor32 GetSampleFloat(float X, float Y) override;
};

// Creates the transformer class a resampler asks for.
std::unique_ptr<TTransformer> MakeTransformer(TTransformerClass Class, TCustomSampler* Sampler,
                                              TTransformation* Transformation);

// ---- resampler registry ---------------------------------------------------------

// The resampler classes in registration order, as for the kernels.
void RegisterResampler(TClass ResamplerClass);
TClass FindResamplerClass(const std::string& Name);
const std::vector<TClass>& ResamplerClassList();
// Makes R the resampler of Bitmap (which owns it from then on) and returns it.
TBitmap32Resampler* BindResampler(std::unique_ptr<TBitmap32Resampler> R, TBitmap32* Bitmap);
// A new resampler of the registered class Name bound to Bitmap and owned by it,
// or null (nothing changed) when the name is not registered.
TBitmap32Resampler* CreateResamplerByName(const std::string& Name, TBitmap32* Bitmap);

// ---- transfers --------------------------------------------------------------------

// Raises EBitmapException when either bitmap is null (Dst first).
void CheckTransferBitmaps(const TBitmap32* Dst, const TBitmap32* Src);
// False for an empty rectangle; raises ESrcInvalidException when it leaves Src.
bool ValidateSourceRect(const TBitmap32* Src, const TRect& SrcRect);
// Combines the block of DstRect's size at (SrcX, SrcY) of Src into DstRect; no checks.
void CombineBlock(TBitmap32* Dst, const TRect& DstRect, const TBitmap32* Src, int32_t SrcX,
                  int32_t SrcY, TDrawMode CombineOp, const TPixelCombineEvent& CombineCallBack);
// Unscaled transfer of SrcRect of Src to (DstX, DstY) of Dst, clipped to DstClip.
void DrawRectAt(TBitmap32* Dst, int32_t DstX, int32_t DstY, const TRect& DstClip, TBitmap32* Src,
                const TRect& SrcRect, TDrawMode CombineOp,
                const TPixelCombineEvent& CombineCallBack = {});
// Scaled transfer of SrcRect of Src onto DstRect of Dst through Resampler.
void DrawRectScaled(TBitmap32* Dst, const TRect& DstRect, const TRect& DstClip, TBitmap32* Src,
                    const TRect& SrcRect, TCustomResampler* Resampler, TDrawMode CombineOp,
                    const TPixelCombineEvent& CombineCallBack = {});
void StretchNearestPixels(TBitmap32* Dst, const TRect& DstRect, const TRect& DstClip,
                          TBitmap32* Src, const TRect& SrcRect, TDrawMode CombineOp,
                          const TPixelCombineEvent& CombineCallBack = {});
// DstClip must already lie inside Dst and DstRect.
void StretchBilinearFast(TBitmap32* Dst, const TRect& DstRect, const TRect& DstClip,
                         TBitmap32* Src, const TRect& SrcRect, TDrawMode CombineOp,
                         const TPixelCombineEvent& CombineCallBack = {});
void ResampleWithKernel(TBitmap32* Dst, const TRect& DstRect, const TRect& DstClip,
                        TBitmap32* Src, const TRect& SrcRect, const TCustomKernel* Kernel,
                        TDrawMode CombineOp, const TPixelCombineEvent& CombineCallBack = {});
void QuickResample(TBitmap32* Dst, const TRect& DstRect, const TRect& DstClip, TBitmap32* Src,
                   const TRect& SrcRect, const TCustomKernel* Kernel, TDrawMode CombineOp,
                   const TPixelCombineEvent& CombineCallBack = {});

// One weight of a kernel mapping: an absolute source index and its weight
// (256 = 1.0).
struct TPointRec {
  int32_t Pos;
  int32_t Weight;
};
using TCluster = std::vector<TPointRec>;
using TMappingTable = std::vector<TCluster>;

// The clusters of one axis for the destination indices ClipLo..ClipHi - 1 of
// the destination range DstLo..DstHi drawn from the source range SrcLo..SrcHi.
// Every cluster's weights sum to exactly 256; an empty table draws nothing.
TMappingTable BuildKernelMapping(int32_t DstLo, int32_t DstHi, int32_t ClipLo, int32_t ClipHi,
                                 int32_t SrcLo, int32_t SrcHi, const TCustomKernel& Kernel);

// ---- processor routines -----------------------------------------------------------

// The average colour of a Dlx x Dly block starting at Src, rows Pitch bytes apart.
using TAverageBlock = TColor32 (*)(int32_t Dlx, int32_t Dly, const TColor32* Src, int32_t Pitch);
// The bilinear mix of a 2 x 2 block: WX, WY hold the weight of the left
// (upper) pixels 0..256 in both 16-bit halves; Upper and Lower point at the
// left pixel of each row.
using TInterpolateQuad = TColor32 (*)(uint32_t WX, uint32_t WY, const TColor32* Upper,
                                      const TColor32* Lower);

extern TAverageBlock AverageBlock;
extern TInterpolateQuad InterpolateQuad;

struct TResamplerFamily {
  TAverageBlock AverageBlock;
  TInterpolateQuad InterpolateQuad;
};
extern const TResamplerFamily PortableResamplerFamily;
// Null when the build has no SSE2 variants.
const TResamplerFamily* Sse2ResamplerFamily();
// Fills AverageBlock and InterpolateQuad with the processor family (when
// UseProcessor and the processor has it) or the portable one; returns whether
// the processor family was chosen.
bool SelectResamplerFamily(bool UseProcessor);

// Start-up of this unit: picks the routine family (portable when
// VEMRA_FORCE_PORTABLE=1, as for the blend routines), then registers the
// resampler and kernel classes. Later calls do nothing.
void RasterResamplersStartup();
