#pragma once
// The histogram window (TzubHistogram): the red, green, blue and intensity
// distributions of the whole picture with a marker at the mean intensity.
// Counting a large picture takes a while, so it runs on a worker (TRunner)
// from a copy of the pixels taken on the user-interface thread; the finished
// tables come back to this thread as an event and only this thread paints.
// The window waits for its workers before it goes away.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include <QWidget>

#include "zub_dlgcalc.h"

class QCheckBox;

class TzubHistogram : public QWidget {
 public:
  // Source gives the picture to count (the view's bitmap) each time.
  TzubHistogram(std::function<const TBitmap32*()> Source, QWidget* Parent = nullptr);
  ~TzubHistogram() override;

  // Copies the picture's pixels and starts a worker on the copy.
  void Recount();
  // The check boxes "&R", "&G", "&B", "&Y" (Tags 0..3).
  void CheckBox1Click(int32_t Tag, bool Checked);
  bool Flag(int32_t Tag) const { return flags_[Tag]; }
  // The tables last counted; none before the first count or for an empty picture.
  const std::optional<THistogramCounts>& Counts() const { return counts_; }
  // Workers started and not yet back.
  int32_t PendingCounts() const;
  // The pixels of the copy kept for the next count: none while the window is
  // hidden or the picture empty.
  size_t CopiedPixels() const;

  QCheckBox* CheckBox[4] = {};
  static constexpr int kClientWidth = 266;

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void showEvent(QShowEvent* Event) override;
  void hideEvent(QHideEvent* Event) override;

 private:
  struct TJobs;
  struct TPixelCopy;
  void CountsArrived(uint64_t Generation, const THistogramCounts& Counts);

  std::function<const TBitmap32*()> source_;
  bool flags_[4] = {false, false, false, true};
  std::optional<THistogramCounts> counts_;
  std::shared_ptr<TJobs> jobs_;
  // The last copy counted; the next count reuses it once no worker holds it.
  // A copy of a picture since closed or shrunk, kept for a window nobody
  // looks at, would hold a whole picture's memory to the end of the run.
  std::shared_ptr<TPixelCopy> copy_;
  uint64_t generation_ = 0;
};

// What the editor asks of the histogram window. Create makes the one window
// of the run over Source; the others do nothing while there is none.
bool HistogramExists();
void CreateHistogram(QWidget* Parent, std::function<const TBitmap32*()> Source);
bool HistogramVisible();
void ShowHistogram();
void HideHistogram();
void RepaintHistogram();
// The window itself (null when there is none), and freeing it at exit.
TzubHistogram* HistogramWindow();
void FreeHistogram();
