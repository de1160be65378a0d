// Rectangles between control and bitmap coordinates, and the zoom to fit.
#include <gtest/gtest.h>

#include <cmath>

#include "img_viewcoords.h"
#include "raster_image.h"
#include "view_host.h"

TEST(ViewCoords, RectanglesRoundToWholeControlPixelsBeforeMapping) {
  TRecordingViewHost host(400, 400);
  TImage32 img(&host);
  img.Bitmap()->SetSize(100, 100);
  img.SetScaleMode(smScale);
  EXPECT_EQ(ControlToBitmapRect(img, TFloatRect{10.4f, 10.6f, 20.2f, 20.7f}), (TFloatRect{10, 11, 20, 21}));
  // Halves go to the even neighbour.
  EXPECT_EQ(ControlToBitmapRect(img, TFloatRect{0.5f, 1.5f, 2.5f, 3.5f}), (TFloatRect{0, 2, 2, 4}));

  img.SetScale(2.0f);
  img.SetBitmapAlign(baCustom);
  img.SetOffsetHorz(10);
  img.SetOffsetVert(-6);
  EXPECT_EQ(ControlToBitmapRect(img, TFloatRect{30, 14, 50, 34}), (TFloatRect{10, 10, 20, 20}));
  EXPECT_EQ(BitmapToControlRect(img, TFloatRect{10, 10, 20, 20}), (TFloatRect{30, 14, 50, 34}));
  EXPECT_EQ(BitmapRectInControl(img), (TFloatRect{10, -6, 210, 194}));
}

TEST(ViewCoords, ZoomToFitDividesUntilTheBitmapFits) {
  TRecordingViewHost host(800, 600);
  TImage32 img(&host);
  img.SetScaleMode(smScale);
  img.Bitmap()->SetSize(1000, 500);
  ZoomToFit(img, 0, 0);
  EXPECT_NEAR(img.Scale(), 0.70710678f, 1e-6f);
  EXPECT_EQ(img.GetBitmapSize(), (TPoint{707, 354}));

  // A bitmap that fits keeps its scale: the routine never enlarges.
  img.Bitmap()->SetSize(10, 10);
  img.SetScale(1.0f);
  ZoomToFit(img, 0, 0);
  EXPECT_FLOAT_EQ(img.Scale(), 1.0f);

  // Margins count against the room: 1000 wide in 800 - 300 takes two steps.
  img.Bitmap()->SetSize(1000, 10);
  img.SetScale(1.0f);
  ZoomToFit(img, 300, 0);
  EXPECT_NEAR(img.Scale(), 0.5f, 1e-6f);
  EXPECT_LE(std::nearbyint(1000.0 * img.Scale()), 500.0);
}

TEST(ViewCoords, ZoomToFitEndsWhenNothingCanFit) {
  TRecordingViewHost host(0, 0);
  TImage32 img(&host);
  img.SetScaleMode(smScale);
  img.Bitmap()->SetSize(100, 100);
  ZoomToFit(img, 0, 0);  // a 0 x 0 window: leaves the scale alone
  EXPECT_FLOAT_EQ(img.Scale(), 1.0f);
  host.SetClientSize(50, 50);
  img.Resize();
  ZoomToFit(img, 60, 0);  // margins larger than the window
  EXPECT_FLOAT_EQ(img.Scale(), 1.0f);

  // A huge bitmap in a tiny window stops at the smallest scale.
  host.SetClientSize(2, 2);
  img.Resize();
  img.Bitmap()->SetSize(40000, 1);
  ZoomToFit(img, 0, 0);
  EXPECT_FLOAT_EQ(img.Scale(), 0.001f);
}
