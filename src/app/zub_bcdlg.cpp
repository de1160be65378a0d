#include "zub_bcdlg.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>

QImage BitmapToImage(const TBitmap32& Bmp) {
  if (Bmp.Empty()) return {};
  // TColor32 is 0xAARRGGBB in native order, which is what RGB32 reads.
  return QImage(reinterpret_cast<const uchar*>(Bmp.Bits()), Bmp.Width(), Bmp.Height(), Bmp.Width() * 4,
                QImage::Format_RGB32)
      .copy();
}

// ---- Previews ------------------------------------------------------------------------------------

TBCPreview::TBCPreview(TBCDlg& Dialog, int32_t Which, QWidget* Parent)
    : QWidget(Parent), dialog_(Dialog), which_(Which) {
  setFixedSize(128, 128);
  setMouseTracking(true);
}

void TBCPreview::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().window());
  const TBitmap32& b = which_ == 0 ? dialog_.State.Before() : dialog_.State.After();
  if (b.Empty()) return;
  const float scale = dialog_.State.PreviewScale();
  // Nearest neighbour: the preview is for looking at pixels.
  p.setRenderHint(QPainter::SmoothPixmapTransform, false);
  const QRectF target(dialog_.State.OffsetX(), dialog_.State.OffsetY(), b.Width() * scale, b.Height() * scale);
  p.drawImage(target, BitmapToImage(b));
}

void TBCPreview::mousePressEvent(QMouseEvent* Event) {
  const QPoint pt = Event->position().toPoint();
  dialog_.State.MouseDown(pt.x(), pt.y());
  setCursor(Qt::SizeAllCursor);
}

void TBCPreview::mouseMoveEvent(QMouseEvent* Event) {
  const QPoint pt = Event->position().toPoint();
  if (Event->buttons() != Qt::NoButton && dialog_.State.Dragging()) {
    dialog_.State.MouseMove(pt.x(), pt.y());
    dialog_.Image321->update();
    dialog_.Image322->update();
    return;
  }
  if (const auto hint = dialog_.State.HintAt(which_, pt.x(), pt.y())) {
    setToolTip(QString::fromStdString(*hint));
    QToolTip::showText(Event->globalPosition().toPoint(), toolTip(), this);
  }
}

void TBCPreview::mouseReleaseEvent(QMouseEvent*) {
  dialog_.State.MouseUp();
  unsetCursor();
}

// ---- The dialog ------------------------------------------------------------------------------------

TBCDlg::TBCDlg(QWidget* Parent) : QDialog(Parent) {
  // Setting the controls up must not run their change handlers.
  syncing_ = true;
  auto* top = new QVBoxLayout(this);
  auto* previews = new QHBoxLayout;
  Image321 = new TBCPreview(*this, 0, this);
  Image322 = new TBCPreview(*this, 1, this);
  previews->addWidget(Image321);
  previews->addWidget(Image322);
  top->addLayout(previews);

  auto* grid = new QGridLayout;
  // Rows in the order the dialog shows them: the three parameters, then the zoom.
  const int32_t rowOfTag[4] = {0, 1, 3, 2};
  for (int32_t tag = 0; tag < 4; ++tag) {
    Label[tag] = new QLabel(this);
    TrackBar[tag] = new QSlider(Qt::Horizontal, this);
    TrackBar[tag]->setMinimumWidth(200);
    grid->addWidget(Label[tag], rowOfTag[tag], 0);
    grid->addWidget(TrackBar[tag], rowOfTag[tag], 1);
    connect(TrackBar[tag], &QSlider::valueChanged, this, [this, tag](int v) { TrackBarChange(tag, v); });
  }
  Label[kZoomTag]->setText("&Zoom:");
  Label[kZoomTag]->setBuddy(TrackBar[kZoomTag]);
  TrackBar[kZoomTag]->setRange(10, 30);
  for (int32_t e = 0; e < 3; ++e) {
    Edit[e] = new QLineEdit(this);
    Edit[e]->setFixedWidth(64);
    grid->addWidget(Edit[e], e == 2 ? 3 : e, 2);
    connect(Edit[e], &QLineEdit::textEdited, this, [this, e](const QString& t) { EditChange(e, t); });
  }
  top->addLayout(grid);

  Channels = new QGroupBox("Channels", this);
  auto* ch = new QHBoxLayout(Channels);
  const char* names[3] = {"&Red", "&Green", "&Blue"};
  for (int32_t c = 0; c < 3; ++c) {
    ChannelBox[c] = new QCheckBox(names[c], Channels);
    ChannelBox[c]->setChecked(true);
    ch->addWidget(ChannelBox[c]);
    connect(ChannelBox[c], &QCheckBox::toggled, this, [this, c](bool on) { ChannelClick(c, on); });
  }
  top->addWidget(Channels);

  auto* buttons = new QHBoxLayout;
  OKBtn = new QPushButton("OK", this);
  CancelBtn = new QPushButton("Cancel", this);
  ProofButton = new QPushButton("Proof", this);
  UnproofButton = new QPushButton("Unproof", this);
  OKBtn->setDefault(true);
  for (QPushButton* b : {OKBtn, CancelBtn, ProofButton, UnproofButton}) buttons->addWidget(b);
  top->addLayout(buttons);
  top->setSizeConstraint(QLayout::SetFixedSize);
  connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
  connect(ProofButton, &QPushButton::clicked, this, &TBCDlg::ProofButtonClick);
  connect(UnproofButton, &QPushButton::clicked, this, &TBCDlg::UnproofButtonClick);

  Timer1 = new QTimer(this);
  Timer1->setInterval(1000);
  connect(Timer1, &QTimer::timeout, this, &TBCDlg::Timer1Timer);
  syncing_ = false;
}

uint32_t TBCDlg::Now() const {
  if (Clock) return Clock();
  static QElapsedTimer started = [] {
    QElapsedTimer t;
    t.start();
    return t;
  }();
  return static_cast<uint32_t>(started.elapsed());
}

void TBCDlg::Prepare(const TParamDialogSetup& Setup) {
  setWindowTitle(QString::fromStdString(Setup.Caption));
  syncing_ = true;
  State.Show(Setup, Now());
  const std::string* labels[4] = {&Setup.Label1, &Setup.Label2, nullptr, &Setup.Label4};
  for (int32_t tag = 0; tag < 4; ++tag) {
    const TSliderRange r = State.Range(tag);
    QSlider* s = TrackBar[tag];
    s->setRange(r.Min, r.Max);
    s->setTickInterval(r.Frequency());
    s->setTickPosition(QSlider::TicksBelow);
    s->setPageStep(r.Frequency());
    s->setSingleStep(r.LineSize());
    if (tag == kZoomTag) continue;
    const bool visible = *labels[tag] != "None:";
    Label[tag]->setText(QString::fromStdString(*labels[tag]));
    Label[tag]->setVisible(visible);
    s->setVisible(visible);
    Edit[tag == 3 ? 2 : tag]->setVisible(visible);
  }
  Channels->setVisible(Setup.ChannelsVisible);
  syncing_ = false;
  ShowState();
}

void TBCDlg::ShowState(int32_t ExceptEdit) {
  syncing_ = true;
  for (int32_t tag = 0; tag < 4; ++tag) {
    const QSignalBlocker block(TrackBar[tag]);
    TrackBar[tag]->setValue(State.Position(tag));
  }
  for (int32_t e = 0; e < 3; ++e)
    if (e != ExceptEdit) Edit[e]->setText(QString::fromStdString(State.EditText(e)));
  syncing_ = false;
  Image321->update();
  Image322->update();
}

void TBCDlg::TrackBarChange(int32_t Tag, int Position) {
  if (syncing_) return;
  State.SliderChanged(Tag, Position, Now());
  ShowState();
}

void TBCDlg::ChannelClick(int32_t Channel, bool Checked) {
  if (syncing_) return;
  State.ChannelChanged(Channel, Checked, Now());
  ShowState();
}

void TBCDlg::EditChange(int32_t E, const QString& Text) {
  if (syncing_) return;
  State.EditChanged(E, Text.toStdString(), Now());
  // The box being typed into keeps what the user typed.
  ShowState(E);
}

void TBCDlg::ProofButtonClick() {
  State.Proof();
  Timer1->start();
}

void TBCDlg::UnproofButtonClick() {
  State.Unproof();
  Timer1->stop();
}

void TBCDlg::Timer1Timer() { State.TimerTick(Now()); }

void TBCDlg::done(int Result) {
  // Whatever closes the dialog, the work bitmap is as it was shown: the
  // command applies the effect itself on OK and keeps nothing on Cancel.
  Timer1->stop();
  State.RestoreWork();
  State.Close();
  QDialog::done(Result);
}

TBCDlg* BCDlg(QWidget* Parent) {
  static QPointer<TBCDlg> dialog;
  if (!dialog) dialog = new TBCDlg(Parent);
  return dialog;
}

bool RunParamDialog(QWidget* Parent, const TParamDialogSetup& Setup, TParamValues& Values) {
  TBCDlg* d = BCDlg(Parent);
  d->Prepare(Setup);
  const bool ok = d->exec() == QDialog::Accepted;
  // done() freed the saved copy; the positions are still the sliders'.
  if (ok) Values = d->State.Values();
  return ok;
}
