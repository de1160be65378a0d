// The thirteen reconstruction kernels. Each Filter(x) is the weight of a pixel
// whose centre lies x away from the sample point; GetWidth is the half-width
// beyond which the kernel is not evaluated. Products of t (t squared, t cubed)
// and the argument of sin in sinc are held as 32-bit floats on purpose: the
// weights built from them must come out the same on every machine.
#include <cmath>
#include <cstring>

#include "raster_containers.h"
#include "raster_resamplers.h"

namespace {

// The transcendental parts run in double: as exact as the float results need,
// and far cheaper than extended precision in the mapping of every stretch.
constexpr double kPi = 3.14159265358979323846;

// sin(pi u) / (pi u), with pi u rounded to a float first.
float SinC(float u) {
  if (u == 0.0f) return 1.0f;
  const float pu = static_cast<float>(kPi * u);
  return static_cast<float>(std::sin(static_cast<double>(pu)) / pu);
}

}  // namespace

// ---- TCustomKernel --------------------------------------------------------

void TCustomKernel::Changed() {
  if (FObserver) FObserver->Changed();
}

void TCustomKernel::AssignTo(TPersistent* Dst) {
  if (auto* K = dynamic_cast<TCustomKernel*>(Dst)) {
    CopyPublishedProperties(this, K);
    return;
  }
  TPersistent::AssignTo(Dst);
}

// ---- simple kernels ---------------------------------------------------------

float TBoxKernel::Filter(float x) const {
  return (x >= -0.5f && x <= 0.5f) ? 1.0f : 0.0f;
}

float TLinearKernel::Filter(float x) const {
  if (x >= -1.0f && x < 0.0f) return 1.0f + x;
  if (x >= 0.0f && x < 1.0f) return 1.0f - x;
  return 0.0f;
}

float TCosineKernel::Filter(float x) const {
  if (std::fabs(x) < 1.0f)
    return static_cast<float>((std::cos(kPi * x) + 1.0) * 0.5);
  return 0.0f;
}

float TSplineKernel::Filter(float x) const {
  const float t = std::fabs(x);
  if (t < 1.0f) {
    const float t2 = t * t;
    const float t3 = t2 * t;
    return static_cast<float>(0.5L * t3 - t2 + 2.0L / 3.0L);
  }
  if (t < 2.0f) {
    const float u = 2.0f - t;
    const float u3 = u * u * u;
    return static_cast<float>(u3 / 6.0L);
  }
  return 0.0f;
}

float TMitchellKernel::Filter(float x) const {
  const float t = std::fabs(x);
  const float t2 = t * t;
  const float t3 = t2 * t;
  if (t < 1.0f)
    return static_cast<float>((7.0L * t3 - 12.0L * t2 + 16.0L / 3.0L) / 6.0L);
  if (t < 2.0f)
    return static_cast<float>(
        (-7.0L / 3.0L * t3 + 12.0L * t2 - 20.0L * t + 32.0L / 3.0L) / 6.0L);
  return 0.0f;
}

// ---- cubic ------------------------------------------------------------------

void TCubicKernel::SetCoeff(float Value) {
  if (Value != FCoeff) {
    FCoeff = Value;
    Changed();
  }
}

float TCubicKernel::Filter(float x) const {
  const float t = std::fabs(x);
  const float t2 = t * t;
  const float t3 = t2 * t;
  const long double a = FCoeff;
  if (t < 1.0f) return static_cast<float>((a + 2.0L) * t3 - (a + 3.0L) * t2 + 1.0L);
  if (t < 2.0f) return static_cast<float>(a * (t3 - 5.0L * t2 + 8.0L * t - 4.0L));
  return 0.0f;
}

void TCubicKernel::GetPublishedProperties(TPropList& List) const {
  TCustomKernel::GetPublishedProperties(List);
  List.push_back(PublishedProperty("Coeff", &TCubicKernel::Coeff, &TCubicKernel::SetCoeff));
}

// ---- Hermite ----------------------------------------------------------------

void THermiteKernel::SetBias(float Value) {
  if (Value != FBias) {
    FBias = Value;
    Changed();
  }
}

void THermiteKernel::SetTension(float Value) {
  if (Value != FTension) {
    FTension = Value;
    Changed();
  }
}

float THermiteKernel::Filter(float x) const {
  const long double T = (1.0L - FTension) * 0.5L;
  const float Zf = std::floor(x);
  const float s = std::fabs(Zf - x);
  const float s2 = s * s;
  const float s3 = s2 * s;
  const long double h = -2.0L * s3 + 3.0L * s2;
  const long double g = static_cast<long double>(s3) - s2;
  const long double f = static_cast<long double>(s3) - 2.0L * s2 + s;
  const long double M0 = (1.0L - FBias) * T;
  const long double M1 = (1.0L + FBias) * T;
  long double r = 0.0L;
  if (Zf == -2.0f)
    r = g * M0;
  else if (Zf == -1.0f)
    r = f * M0 + h + (M1 - M0) * g;
  else if (Zf == 0.0f)
    r = (M1 - M0) * f + (1.0L - h) - g * M1;
  else if (Zf == 1.0f)
    r = -f * M1;
  return static_cast<float>(r);
}

void THermiteKernel::GetPublishedProperties(TPropList& List) const {
  TCustomKernel::GetPublishedProperties(List);
  List.push_back(PublishedProperty("Bias", &THermiteKernel::Bias, &THermiteKernel::SetBias));
  List.push_back(PublishedProperty("Tension", &THermiteKernel::Tension, &THermiteKernel::SetTension));
}

// ---- Sinsh ------------------------------------------------------------------

void TSinshKernel::SetWidth(float Value) {
  if (Value != FWidth) {
    FWidth = Value;
    Changed();
  }
}

void TSinshKernel::SetCoeff(float Value) {
  if (Value != FCoeff && Value != 0.0f) {
    FCoeff = Value;
    Changed();
  }
}

float TSinshKernel::Filter(float x) const {
  if (x == 0.0f) return 1.0f;
  const double c = FCoeff;
  return static_cast<float>(c * std::sin(kPi * x) / std::sinh(kPi * c * x));
}

void TSinshKernel::GetPublishedProperties(TPropList& List) const {
  TCustomKernel::GetPublishedProperties(List);
  List.push_back(PublishedProperty("Width", &TSinshKernel::Width, &TSinshKernel::SetWidth));
  List.push_back(PublishedProperty("Coeff", &TSinshKernel::Coeff, &TSinshKernel::SetCoeff));
}

// ---- windowed sinc family ---------------------------------------------------

void TWindowedSincKernel::SetWidth(float Value) {
  // Wider windows would overrun the fixed tap arrays of the point sampler.
  if (Value > 4.0f) Value = 4.0f;
  if (Value != FWidth) {
    FWidth = Value;
    Changed();
  }
}

float TWindowedSincKernel::Filter(float x) const {
  const float t = std::fabs(x);
  if (t < FWidth) return static_cast<float>(static_cast<long double>(Window(t)) * SinC(t));
  return 0.0f;
}

void TWindowedSincKernel::GetPublishedProperties(TPropList& List) const {
  TCustomKernel::GetPublishedProperties(List);
  List.push_back(PublishedProperty("Width", &TWindowedSincKernel::Width, &TWindowedSincKernel::SetWidth));
}

float TLanczosKernel::Window(float x) const {
  return SinC(static_cast<float>(static_cast<long double>(x) / FWidth));
}

void TGaussianKernel::SetSigma(float Value) {
  if (Value != FSigma && Value != 0.0f) {
    FSigma = Value;
    Changed();
  }
}

float TGaussianKernel::Window(float x) const {
  const float x2 = x * x;
  return static_cast<float>(std::exp2(-static_cast<double>(x2) / FSigma));
}

void TGaussianKernel::GetPublishedProperties(TPropList& List) const {
  TWindowedSincKernel::GetPublishedProperties(List);
  List.push_back(PublishedProperty("Sigma", &TGaussianKernel::Sigma, &TGaussianKernel::SetSigma));
}

float TBlackmanKernel::Window(float x) const {
  const float a = static_cast<float>(kPi * x / FWidth);
  return static_cast<float>(0.42 + 0.5 * std::cos(static_cast<double>(a)) +
                            0.08 * std::cos(2.0 * a));
}

float THannKernel::Window(float x) const {
  return static_cast<float>(0.5 * std::cos(kPi * x / FWidth) + 0.5);
}

float THammingKernel::Window(float x) const {
  return static_cast<float>(0.46 * std::cos(kPi * x / FWidth) + 0.54);
}
