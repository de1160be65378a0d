// Reconstruction kernels: known values, property setters and their
// notifications, copying by published properties, and the kernel registry.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "raster_resamplers.h"

namespace {

// Counts Changed calls, standing in for a resampler that watches its kernel.
class TCountingObserver : public TNotifiablePersistent {
 public:
  void Changed() override { ++Count; }
  int Count = 0;
};

TEST(Kernels, KnownValuesAtTheEdgesOfTheirSupport) {
  TBoxKernel Box;
  EXPECT_EQ(Box.Filter(0.5f), 1.0f);
  EXPECT_EQ(Box.Filter(-0.5f), 1.0f);
  EXPECT_EQ(Box.Filter(0.5001f), 0.0f);

  TLinearKernel Linear;
  EXPECT_EQ(Linear.Filter(-1.0f), 0.0f);
  EXPECT_EQ(Linear.Filter(1.0f), 0.0f);
  EXPECT_EQ(Linear.Filter(0.25f), 0.75f);
  EXPECT_EQ(Linear.Filter(-0.25f), 0.75f);

  TLanczosKernel Lanczos;
  EXPECT_EQ(Lanczos.Filter(0.0f), 1.0f);
  EXPECT_EQ(Lanczos.Filter(3.0f), 0.0f);
  EXPECT_EQ(Lanczos.GetWidth(), 3.0f);
  Lanczos.SetWidth(6.0f);
  EXPECT_EQ(Lanczos.Width(), 4.0f);

  TCubicKernel Cubic;
  EXPECT_EQ(Cubic.Coeff(), -0.5f);
  EXPECT_EQ(Cubic.Filter(1.0f), 0.0f);
  EXPECT_EQ(Cubic.Filter(0.0f), 1.0f);
  EXPECT_FLOAT_EQ(Cubic.Filter(0.5f), 0.5625f);

  TMitchellKernel Mitchell;
  EXPECT_EQ(Mitchell.Filter(0.0f), static_cast<float>(16.0L / 18.0L));
  EXPECT_FLOAT_EQ(Mitchell.Filter(1.0f), 1.0f / 18.0f);

  TSplineKernel Spline;
  EXPECT_EQ(Spline.Filter(0.0f), static_cast<float>(2.0L / 3.0L));
  EXPECT_FLOAT_EQ(Spline.Filter(1.0f), 1.0f / 6.0f);
  EXPECT_EQ(Spline.Filter(2.0f), 0.0f);

  TCosineKernel Cosine;
  EXPECT_EQ(Cosine.Filter(0.0f), 1.0f);
  EXPECT_FLOAT_EQ(Cosine.Filter(0.5f), 0.5f);
  EXPECT_EQ(Cosine.Filter(1.0f), 0.0f);

  // With no bias and no tension the Hermite spline is the Catmull-Rom cubic.
  THermiteKernel Hermite;
  for (float x : {-1.75f, -1.25f, -0.5f, 0.0f, 0.3f, 0.5f, 1.0f, 1.5f})
    EXPECT_NEAR(Hermite.Filter(x), Cubic.Filter(x), 1e-6f) << x;

  TSinshKernel Sinsh;
  EXPECT_EQ(Sinsh.Filter(0.0f), 1.0f);
  EXPECT_NEAR(Sinsh.Filter(1.0f), 0.0f, 1e-6f);
  EXPECT_EQ(Sinsh.GetWidth(), 3.0f);

  TGaussianKernel Gaussian;
  TBlackmanKernel Blackman;
  THannKernel Hann;
  THammingKernel Hamming;
  for (const TWindowedSincKernel* K :
       std::initializer_list<const TWindowedSincKernel*>{&Gaussian, &Blackman, &Hann, &Hamming}) {
    EXPECT_NEAR(K->Filter(0.0f), K->Window(0.0f), 1e-6f) << K->ClassName();
    EXPECT_NEAR(K->Filter(1.0f), 0.0f, 1e-6f) << K->ClassName();
    EXPECT_EQ(K->Filter(3.0f), 0.0f) << K->ClassName();
    EXPECT_TRUE(K->RangeCheck());
  }
  EXPECT_FALSE(Box.RangeCheck());
  EXPECT_FALSE(Linear.RangeCheck());
  EXPECT_FALSE(Cosine.RangeCheck());
  EXPECT_TRUE(Cubic.RangeCheck());
}

// Interpolating and approximating kernels spread exactly one unit of weight
// over the pixels around any sample point.
TEST(Kernels, WeightsAtIntegerOffsetsSumToOne) {
  TLinearKernel Linear;
  TCosineKernel Cosine;
  TSplineKernel Spline;
  TCubicKernel Cubic;
  TMitchellKernel Mitchell;
  THermiteKernel Hermite;
  for (const TCustomKernel* K : std::initializer_list<const TCustomKernel*>{
           &Linear, &Cosine, &Spline, &Cubic, &Mitchell, &Hermite}) {
    for (float f = 0.0f; f < 1.0f; f += 0.0625f) {
      double Sum = 0;
      for (int k = -3; k <= 3; ++k) Sum += K->Filter(static_cast<float>(k) + f);
      EXPECT_NEAR(Sum, 1.0, 2e-6) << K->ClassName() << " at " << f;
    }
  }
}

TEST(Kernels, SettersIgnoreRejectedValuesAndNotifyOnlyOnChange) {
  TCountingObserver Observer;
  TGaussianKernel Gauss;
  Gauss.SetObserver(&Observer);
  Gauss.SetSigma(0.0f);
  EXPECT_EQ(Gauss.Sigma(), 1.33f);
  EXPECT_EQ(Observer.Count, 0);
  Gauss.SetSigma(2.0f);
  Gauss.SetSigma(2.0f);
  EXPECT_EQ(Gauss.Sigma(), 2.0f);
  EXPECT_EQ(Observer.Count, 1);
  Gauss.SetWidth(10.0f);
  EXPECT_EQ(Gauss.Width(), 4.0f);
  EXPECT_EQ(Observer.Count, 2);

  TSinshKernel Sinsh;
  Sinsh.SetObserver(&Observer);
  Sinsh.SetCoeff(0.0f);
  EXPECT_EQ(Sinsh.Coeff(), 0.5f);
  Sinsh.SetWidth(7.0f);  // no limit for this kernel
  EXPECT_EQ(Sinsh.GetWidth(), 7.0f);
  EXPECT_EQ(Observer.Count, 3);

  THermiteKernel Hermite;
  Hermite.SetBias(0.0f);
  Hermite.SetTension(0.5f);
  EXPECT_EQ(Hermite.Tension(), 0.5f);
}

TEST(Kernels, AssignCopiesThePublishedPropertiesBothKernelsHave) {
  TGaussianKernel Src;
  Src.SetWidth(2.0f);
  Src.SetSigma(0.75f);
  TGaussianKernel Same;
  Same.Assign(&Src);
  EXPECT_EQ(Same.Width(), 2.0f);
  EXPECT_EQ(Same.Sigma(), 0.75f);
  // Another windowed sinc takes the width only.
  TLanczosKernel Other;
  Other.Assign(&Src);
  EXPECT_EQ(Other.Width(), 2.0f);
  // A kernel without properties takes nothing and raises nothing.
  TBoxKernel Box;
  EXPECT_NO_THROW(Box.Assign(&Src));
}

TEST(KernelRegistry, HoldsTheThirteenClassesInStartupOrder) {
  const std::vector<std::string> Expected = {
      "TBoxKernel",      "TLinearKernel",   "TCosineKernel", "TSplineKernel", "TCubicKernel",
      "TMitchellKernel", "TLanczosKernel",  "TGaussianKernel", "TBlackmanKernel",
      "THannKernel",     "THammingKernel",  "TSinshKernel",  "THermiteKernel"};
  const auto& List = KernelClassList();
  ASSERT_EQ(List.size(), Expected.size());
  for (size_t i = 0; i < List.size(); ++i) EXPECT_EQ(List[i]->ClassName(), Expected[i]);
  for (const auto& Name : Expected) {
    auto K = CreateKernelByName(Name);
    ASSERT_TRUE(K) << Name;
    EXPECT_EQ(K->ClassName(), Name);
  }
  EXPECT_EQ(FindKernelClass("tlanczoskernel"), nullptr);
  EXPECT_EQ(CreateKernelByName("TNoSuchKernel"), nullptr);
}

}  // namespace
