// The refresh after a change: caption strings, the histogram window, the
// document's menus and zoom, and the View menu's state.
#include <gtest/gtest.h>

#include <cmath>

#include "fake_editor_ui.h"
#include "zub_main_engine.h"

namespace {

TCaptionFacts Photo(float Scale) {
  TCaptionFacts f;
  f.FileName = "/home/ann/pictures/photo.jpg";
  f.FileSize = 52000;
  f.Width = 640;
  f.Height = 480;
  f.Scale = Scale;
  return f;
}

}  // namespace

TEST(Caption, KnownStrings) {
  EXPECT_EQ(MakeCaption(Photo(1.0f)), "Vemra - photo.jpg 50KB (640x480)[1:1]");
  EXPECT_EQ(MakeCaption(Photo(2.0f)), "Vemra - photo.jpg 50KB (640x480) [2:1]");
  EXPECT_EQ(MakeCaption(Photo(0.5f)), "Vemra - photo.jpg 50KB (640x480)[1:2]");
  EXPECT_EQ(MakeCaption(Photo(1.5f)), "Vemra - photo.jpg 50KB (640x480) [1.50:1]");
  EXPECT_EQ(MakeCaption(Photo(0.75f)), "Vemra - photo.jpg 50KB (640x480)[1:1.33]");

  TCaptionFacts f = Photo(1.0f);
  f.Modified = true;
  EXPECT_EQ(MakeCaption(f), "Vemra - photo.jpg* 50KB (640x480)[1:1]");
  f.ShowPath = true;
  EXPECT_EQ(MakeCaption(f), "Vemra - /home/ann/pictures/photo.jpg* 50KB (640x480)[1:1]");
  f.FileSize = 1023;  // less than one KB shows 0KB, as Trunc does
  EXPECT_EQ(MakeCaption(f), "Vemra - /home/ann/pictures/photo.jpg* 0KB (640x480)[1:1]");

  TCaptionFacts untitled;
  untitled.FileName = "untitled";
  untitled.Width = 3;
  untitled.Height = 2;
  EXPECT_EQ(MakeCaption(untitled), "Vemra - untitled (3x2)[1:1]");
  EXPECT_EQ(MakeCaption(TCaptionFacts{}), "Vemra");
}

TEST(Caption, ScalesBesideWholeRatiosPrintThemExactly) {
  // The view keeps its scale in a float: zoom steps can land a hair beside 1:2 or 2:1.
  EXPECT_EQ(MakeCaption(Photo(std::nextafter(0.5f, 0.0f))), "Vemra - photo.jpg 50KB (640x480)[1:2]");
  EXPECT_EQ(MakeCaption(Photo(std::nextafter(0.5f, 1.0f))), "Vemra - photo.jpg 50KB (640x480)[1:2]");
  EXPECT_EQ(MakeCaption(Photo(std::nextafter(2.0f, 3.0f))), "Vemra - photo.jpg 50KB (640x480) [2:1]");
  EXPECT_EQ(MakeCaption(Photo(std::nextafter(1.0f, 2.0f))), "Vemra - photo.jpg 50KB (640x480)[1:1]");
  EXPECT_EQ(MakeCaption(Photo(1.0f / 3.0f)), "Vemra - photo.jpg 50KB (640x480)[1:3]");
  EXPECT_EQ(MakeCaption(Photo(static_cast<float>(std::sqrt(2.0)))),
            "Vemra - photo.jpg 50KB (640x480) [1.41:1]");
  // A ratio a little off a whole number is not rounded to it.
  EXPECT_EQ(MakeCaption(Photo(2.004f)), "Vemra - photo.jpg 50KB (640x480) [2.00:1]");
}

TEST(Refresh, HistogramRepaintsOnlyWhenShownAndTheMenuTogglesIt) {
  TFakeEditorUi ui;
  TImage32 view;
  TEditor ed(view, ui, 1024);
  ed.RefreshHistogram();
  EXPECT_EQ(ui.HistogramRepaints, 0);

  ed.Histogram1Click();  // first use: made and shown
  EXPECT_EQ(ui.HistogramCreations, 1);
  EXPECT_TRUE(ui.HistogramShown);
  ed.RefreshHistogram();
  EXPECT_EQ(ui.HistogramRepaints, 1);

  EXPECT_TRUE(ed.View1Click().HistogramChecked);
  ui.MenuCheck["Histogram1"] = true;  // the window applied the View menu's state
  ed.Histogram1Click();
  EXPECT_FALSE(ui.HistogramShown);
  EXPECT_EQ(ui.HistogramCreations, 1);
  ed.RefreshHistogram();
  EXPECT_EQ(ui.HistogramRepaints, 1);
}

TEST(Refresh, ShowDocumentShowsMenusFitsTheZoomAndRefreshes) {
  TFakeEditorUi ui;
  TImage32 view;  // a 192 x 192 window of its own
  view.Bitmap()->SetSize(1000, 500);
  TEditor ed(view, ui, 1024);
  ed.gFileName = "untitled";
  ui.HistogramMade = ui.HistogramShown = true;
  ed.ShowDocument();
  EXPECT_TRUE(ui.MenuVisible["Image1"]);
  EXPECT_TRUE(ui.MenuVisible["Colors1"]);
  EXPECT_TRUE(ui.MenuVisible["Layers1"]);
  EXPECT_LE(std::lround(1000 * view.Scale()), 192);
  EXPECT_GT(std::lround(1000 * view.Scale() * 1.414213562), 192);
  EXPECT_EQ(ui.HistogramRepaints, 1);
  // 1000 px at about 0.177 of a sqrt(2) ladder: the caption says which.
  EXPECT_EQ(ui.Captions.back(), "Vemra - untitled (1000x500)[1:5.66]");
}

TEST(Refresh, ViewMenuState) {
  const TViewMenuState none = ViewMenuState(false, true, true, false, 2.0f);
  EXPECT_FALSE(none.ItemsEnabled);
  EXPECT_FALSE(none.NormalViewingEnabled);
  EXPECT_TRUE(none.BarsEnabled);
  EXPECT_TRUE(none.StatusBarEnabled);

  const TViewMenuState atOne = ViewMenuState(true, false, true, true, 1.0f);
  EXPECT_TRUE(atOne.ItemsEnabled);
  EXPECT_FALSE(atOne.NormalViewingEnabled);
  EXPECT_FALSE(atOne.HistogramChecked);
  EXPECT_TRUE(atOne.TimingChecked);
  EXPECT_TRUE(atOne.StatusBarChecked);

  const TViewMenuState zoomed = ViewMenuState(true, true, false, false, 0.5f);
  EXPECT_TRUE(zoomed.NormalViewingEnabled);
  EXPECT_TRUE(zoomed.HistogramChecked);
  EXPECT_FALSE(zoomed.TimingChecked);
  EXPECT_FALSE(zoomed.StatusBarChecked);

}
