// The refresh after a change: the window caption, the histogram window, the
// document's menus and zoom, and the View menu's state.
#include <charconv>
#include <cmath>

#include "img_viewcoords.h"
#include "zub_main_engine.h"

namespace {

// The file name as the caption shows it: the path only when asked for.
std::string CaptionName(const std::string& FileName, bool ShowPath) {
  if (ShowPath) return FileName;
  const size_t slash = FileName.find_last_of('/');
  return slash == std::string::npos ? FileName : FileName.substr(slash + 1);
}

// Two decimals with a "." whatever the locale says.
std::string TwoDecimals(double V) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, V, std::chars_format::fixed, 2);
  return std::string(buf, r.ptr);
}

// " [2:1]" above scale 1, "[1:2]" below and at it, " [1.50:1]" / "[1:1.33]"
// for scales that are no whole ratio.
std::string ZoomText(float Scale) {
  const double s = (Scale > 0 && std::isfinite(Scale)) ? Scale : 1.0;
  const double z = s >= 1.0 ? s : 1.0 / s;
  // The view keeps its scale in a float, so a zoom out by two halvings of
  // sqrt(2) lands a hair beside 0.5; a ratio that close to a whole number is
  // shown as the whole number it stands for.
  const double whole = std::nearbyint(z);
  const bool exact = std::fabs(z - whole) <= z * 1e-5;
  const std::string zt = exact ? std::to_string(static_cast<long long>(whole)) : TwoDecimals(z);
  const bool enlarged = exact ? (s >= 1.0 && whole > 1.0) : s > 1.0;
  std::string t = enlarged ? " [" : "[1:";
  t += zt;
  t += enlarged ? ":1]" : "]";
  return t;
}

}  // namespace

std::string MakeCaption(const TCaptionFacts& Facts) {
  std::string c = "Vemra";
  if (Facts.FileName.empty()) return c;
  c += " - ";
  c += CaptionName(Facts.FileName, Facts.ShowPath);
  if (Facts.Modified) c += '*';
  if (Facts.FileSize > 0) {
    c += ' ';
    c += std::to_string(Facts.FileSize / 1024);
    c += "KB";
  }
  c += " (";
  c += std::to_string(Facts.Width);
  c += 'x';
  c += std::to_string(Facts.Height);
  c += ')';
  c += ZoomText(Facts.Scale);
  return c;
}

TViewMenuState ViewMenuState(bool HasDocument, bool HistogramVisible, bool Timing, bool StatusBarVisible,
                             float Scale) {
  TViewMenuState s;
  s.ItemsEnabled = HasDocument;
  s.NormalViewingEnabled = HasDocument && Scale != 1.0f;
  s.BarsEnabled = true;
  s.StatusBarEnabled = true;
  s.HistogramChecked = HistogramVisible;
  s.TimingChecked = Timing;
  s.StatusBarChecked = StatusBarVisible;
  return s;
}

std::string TEditor::Caption() const {
  TCaptionFacts f;
  f.FileName = gFileName;
  f.ShowPath = gShowPathOnTitle;
  f.Modified = gImageUndo->HasUndo();
  f.FileSize = gFileSize;
  f.Width = fView.Bitmap()->Width();
  f.Height = fView.Bitmap()->Height();
  f.Scale = fView.Scale();
  return MakeCaption(f);
}

void TEditor::UpdateCaption() { fUi.SetCaption(Caption()); }

void TEditor::RefreshHistogram() {
  if (fUi.HistogramExists() && fUi.HistogramVisible()) fUi.RepaintHistogram();
}

void TEditor::ShowDocument() {
  fUi.SetMenuVisible("Image1", true);
  fUi.SetMenuVisible("Colors1", true);
  fUi.SetMenuVisible("Layers1", true);
  ZoomToFit(fView, 0, 0);
  RefreshHistogram();
  UpdateCaption();
  ReserveForNextCommand();
}

void TEditor::Histogram1Click() {
  if (!fUi.HistogramExists()) fUi.CreateHistogram();
  if (fUi.MenuChecked("Histogram1"))
    fUi.HideHistogram();
  else
    fUi.ShowHistogram();
}

TViewMenuState TEditor::View1Click() const {
  return ViewMenuState(HasDocument(), fUi.HistogramExists() && fUi.HistogramVisible(), gTiming,
                       fUi.StatusBarVisible(), fView.Scale());
}
