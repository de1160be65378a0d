#include "zub_histogram.h"

#include <algorithm>
#include <vector>

#include <QCheckBox>
#include <QPainter>
#include <QPointer>
#include <QPolygon>

#include "raster_parallel.h"
#include "runner.h"

// Shared by the window and its workers: a worker posts its tables only while
// the window still exists, and the window's destructor waits until every
// worker it started has finished.
struct TzubHistogram::TJobs {
  std::mutex Lock;
  std::condition_variable Finished;
  int32_t Running = 0;
  TzubHistogram* Owner = nullptr;
};

// The pixels a worker counts. A large picture's copy is made on every core
// into the block of the last count when it is free: a fresh block for each
// command would cost more in page faults than the count itself.
struct TzubHistogram::TPixelCopy {
  std::unique_ptr<TColor32[]> Pixels;
  size_t Count = 0;
};

TzubHistogram::TzubHistogram(std::function<const TBitmap32*()> Source, QWidget* Parent)
    : QWidget(Parent, Qt::Tool | Qt::WindowStaysOnTopHint),
      source_(std::move(Source)),
      jobs_(std::make_shared<TJobs>()) {
  jobs_->Owner = this;
  setWindowTitle("Histogram");
  const char* names[4] = {"&R", "&G", "&B", "&Y"};
  int checkHeight = 0;
  for (int32_t tag = 0; tag < 4; ++tag) {
    CheckBox[tag] = new QCheckBox(names[tag], this);
    CheckBox[tag]->setChecked(flags_[tag]);
    CheckBox[tag]->move(10 + 40 * tag, 120);
    CheckBox[tag]->adjustSize();
    checkHeight = std::max(checkHeight, CheckBox[tag]->height());
    connect(CheckBox[tag], &QCheckBox::toggled, this, [this, tag](bool on) { CheckBox1Click(tag, on); });
  }
  // The window keeps its size whatever the user drags.
  setFixedSize(kClientWidth, 115 + checkHeight + 10);
}

TzubHistogram::~TzubHistogram() {
  std::unique_lock<std::mutex> lock(jobs_->Lock);
  jobs_->Owner = nullptr;
  jobs_->Finished.wait(lock, [this] { return jobs_->Running == 0; });
}

size_t TzubHistogram::CopiedPixels() const { return copy_ ? copy_->Count : 0; }

int32_t TzubHistogram::PendingCounts() const {
  std::lock_guard<std::mutex> lock(jobs_->Lock);
  return jobs_->Running;
}

void TzubHistogram::Recount() {
  const TBitmap32* b = source_ ? source_() : nullptr;
  const uint64_t generation = ++generation_;
  if (b == nullptr || b->Empty() || b->Bits() == nullptr) {
    counts_.reset();
    copy_.reset();
    update();
    return;
  }
  // The worker counts its own copy, so the picture may change or go away
  // while it runs.
  const size_t n = b->PixelCount();
  // Held here and by copy_ only: no worker reads it any more.
  std::shared_ptr<TPixelCopy> pixels = copy_;
  if (!pixels || pixels.use_count() > 2 || pixels->Count != n) {
    pixels = std::make_shared<TPixelCopy>();
    pixels->Pixels.reset(new TColor32[n]);
    pixels->Count = n;
    copy_ = pixels;
  }
  TColor32* to = pixels->Pixels.get();
  const TColor32* from = b->Bits();
  ParallelSpans(n, size_t{1} << 18, [to, from](size_t First, size_t Last) {
    std::copy(from + First, from + Last, to + First);
  });
  std::shared_ptr<TJobs> jobs = jobs_;
  {
    std::lock_guard<std::mutex> lock(jobs->Lock);
    ++jobs->Running;
  }
  TRunner::Create([jobs, pixels, generation] {
    const THistogramCounts counts = CountHistogram(pixels->Pixels.get(), pixels->Count);
    std::lock_guard<std::mutex> lock(jobs->Lock);
    if (TzubHistogram* owner = jobs->Owner)
      QMetaObject::invokeMethod(
          owner, [owner, generation, counts] { owner->CountsArrived(generation, counts); }, Qt::QueuedConnection);
    --jobs->Running;
    jobs->Finished.notify_all();
  });
}

void TzubHistogram::CountsArrived(uint64_t Generation, const THistogramCounts& Counts) {
  // A later count is on its way; this one shows an older picture.
  if (Generation != generation_) return;
  counts_ = Counts;
  update();
}

void TzubHistogram::CheckBox1Click(int32_t Tag, bool Checked) {
  if (Tag < 0 || Tag > 3) return;
  flags_[Tag] = Checked;
  update();
  Recount();
}

void TzubHistogram::showEvent(QShowEvent* Event) {
  QWidget::showEvent(Event);
  Recount();
}

void TzubHistogram::hideEvent(QHideEvent* Event) {
  // A worker still counting keeps the copy until it is done.
  copy_.reset();
  QWidget::hideEvent(Event);
}

void TzubHistogram::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(QRect(0, 0, width() - 1, height() - 1), palette().window());
  p.setPen(Qt::black);
  p.drawLine(4, 4, 4, 110);
  p.drawLine(4, 110, 261, 110);
  if (!counts_ || counts_->Count == 0) return;
  const std::array<uint64_t, 256>* tables[4] = {&counts_->Red, &counts_->Green, &counts_->Blue,
                                                &counts_->Intensity};
  const QColor colours[4] = {QColor(255, 0, 0), QColor(0, 128, 0), QColor(0, 0, 255), QColor(0, 0, 0)};
  for (int32_t tag = 0; tag < 4; ++tag) {
    if (!flags_[tag]) continue;
    QPolygon line;
    for (const THistogramPoint& pt : HistogramCurve(*tables[tag])) line << QPoint(pt.X, pt.Y);
    p.setPen(colours[tag]);
    p.drawPolyline(line);
  }
  const int32_t mean = HistogramMeanX(*counts_);
  p.setPen(QColor(255, 255, 0));
  p.drawLine(mean, 5, mean, 109);
}

// ---- The window of the run --------------------------------------------------------------------------

namespace {
QPointer<TzubHistogram>& Histogram() {
  static QPointer<TzubHistogram> window;
  return window;
}
}  // namespace

TzubHistogram* HistogramWindow() { return Histogram(); }
bool HistogramExists() { return !Histogram().isNull(); }

void CreateHistogram(QWidget* Parent, std::function<const TBitmap32*()> Source) {
  if (!Histogram()) Histogram() = new TzubHistogram(std::move(Source), Parent);
}

bool HistogramVisible() { return Histogram() && Histogram()->isVisible(); }

void ShowHistogram() {
  if (!Histogram()) return;
  Histogram()->show();
  Histogram()->raise();
}

void HideHistogram() {
  if (Histogram()) Histogram()->hide();
}

void RepaintHistogram() {
  if (Histogram()) Histogram()->Recount();
}

void FreeHistogram() { delete Histogram().data(); }
