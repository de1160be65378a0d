// The second family of effects called with hostile arguments: null, empty,
// 1x1 and aliased bitmaps, zero, negative and huge amounts, NaN and infinite
// factors and angles, unknown modes, types and keys. None may crash, read out
// of bounds, hang or hit undefined behaviour (NaN or infinity converted to an
// integer, shifts of negative values, overflowing sums).
//
// Input: one byte choosing the routine, one byte of flags (null / aliased
// bitmaps), two bitmaps (a byte per side, 0..20, then their pixels), then the
// routine's integers, floats and text taken from the rest (zeros once it runs out).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "algebra.h"
#include "fuzz_input.h"
#include "img_cac.h"
#include "img_effects.h"
#include "img_enc.h"
#include "img_frac.h"
#include "img_fsdither.h"
#include "img_nr.h"
#include "img_rotate.h"
#include "img_sort.h"
#include "raster_core.h"
#include "rc4.h"
#include "test_startup.h"

namespace {

std::unique_ptr<TBitmap32> MakeBitmap(TFuzzInput& In) {
  auto B = std::make_unique<TBitmap32>();
  const int32_t W = In.Byte() % 21, H = In.Byte() % 21;
  B->SetSize(W, H);
  B->SetDrawMode(static_cast<TDrawMode>(In.Byte() % 4));
  B->SetOuterColor(In.Word());
  for (size_t i = 0; i < B->PixelCount(); ++i) B->Bits()[i] = In.Word();
  return B;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  VemraTestStartup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  TFuzzInput In(Data, Size);
  const uint8_t Op = In.Byte();
  const uint8_t Flags = In.Byte();
  auto OwnA = MakeBitmap(In);
  auto OwnB = MakeBitmap(In);
  TBitmap32* A = (Flags & 1) ? nullptr : OwnA.get();
  TBitmap32* B = (Flags & 2) ? nullptr : ((Flags & 4) ? A : OwnB.get());

  switch (Op % 17) {
    case 0: ReduceNoise(A, In.Int()); break;
    case 1: {
      const int32_t Red = In.Int();
      CorrectChromaticAberration(A, Red, In.Int());
      break;
    }
    case 2: {
      const int32_t Rx = In.Int(), Ry = In.Int(), Bx = In.Int();
      ShiftChannels(A, Rx, Ry, Bx, In.Int());
      break;
    }
    case 3: {
      const int32_t Radius = In.Int();
      const TColor32 Bg = In.Word();
      EffectMosaic(B, A, Radius, Bg, In.Float());
      break;
    }
    case 4: {
      const int32_t Radius = In.Int();
      const TColor32 Ink = In.Word(), Paper = In.Word();
      const uint8_t Channels = In.Byte();
      EffectQuantize(B, A, Radius, Ink, Paper, Channels & 1, Channels & 2, Channels & 4);
      break;
    }
    case 5: {
      SeedEffectRandom(In.Word());
      const int32_t Radius = In.Int();
      if (Flags & 8)
        EffectSprayInPlace(A, Radius);
      else
        EffectSpray(B, A, Radius);
      break;
    }
    case 6: {
      const TColor32 Colour = In.Word();
      const float Power = In.Float();
      if (Flags & 8)
        EffectHoleInPlace(A, Colour, Power);
      else
        EffectHole(B, A, Colour, Power);
      break;
    }
    case 7: {
      const int32_t Type = In.Int();
      EffectTwirl(B, A, Type, In.Float());
      break;
    }
    case 8: EffectRound(A); break;
    case 9: {
      const long double Sa = In.Extended();
      ShearBitmap(A, Sa, In.Extended());
      break;
    }
    case 10: {
      FlipVertical(A);
      MirrorHorizontal(A);
      RotateQuarterTurns(A, In.Int());
      break;
    }
    case 11: RotateByAngle(A, In.Float()); break;
    case 12: {
      const long double K = In.Extended();
      int32_t Count = 0, Pa = 0, Pb = 0;
      const long double Cr = In.Extended();
      MandelbrotPoint(Count, Pa, Pb, Cr, In.Extended(), K);
      RenderMandelbrot(A, K);
      break;
    }
    case 13:
      if (A != nullptr) SortPixels(A->Bits(), static_cast<int64_t>(A->PixelCount()), In.Int());
      break;
    case 14: {
      DitherFloydSteinberg(A, In.Int());
      volatile int32_t N = CountColors(A);
      (void)N;
      DitherBlackWhite(A);
      TColor32 P = In.Word();
      int32_t E = In.Int();
      DiffuseGreyError(&P, E);
      break;
    }
    case 15: {
      const std::string Phrase = In.Rest();
      EncryptBitmap(A, Phrase);
      TKeystreamState State;
      KeystreamSetup(State, reinterpret_cast<const uint8_t*>(Phrase.data()), static_cast<int32_t>(Phrase.size()));
      break;
    }
    default: {
      const TRealPoint P1 = MakeRealPoint(In.Extended(), In.Extended());
      const TRealPoint P2 = MakeRealPoint(In.Extended(), In.Extended());
      const TRealLine L1 = LineThroughPoints(P1, P2);
      const TRealLine L2 = PerpendicularLine(LineFromSlopePoint(In.Extended(), P1), P2);
      volatile long double Sink = IntersectLines(L1, L2).X + LineXAt(L1, P2.Y) + LineYAt(L2, P1.X) +
                                  PointDistance(P1.X, P1.Y, P2.X, P2.Y) +
                                  PointPlusScaled(P1, VectorFromTo(P1, P2), In.Extended()).Y;
      (void)Sink;
      break;
    }
  }
  return 0;
}
