#include "zub_resize.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPointer>
#include <QSignalBlocker>
#include <QSpinBox>

TResizeDlg::TResizeDlg(QWidget* Parent) : QDialog(Parent) {
  auto* form = new QFormLayout(this);
  auto spin = [this](int lo, int hi) {
    auto* s = new QSpinBox(this);
    s->setRange(lo, hi);
    return s;
  };
  UpDown1 = spin(TResizeCalc::kMinSize, TResizeCalc::kMaxSize);
  UpDown2 = spin(TResizeCalc::kMinSize, TResizeCalc::kMaxSize);
  UpDown3 = spin(-TResizeCalc::kMaxOffset, TResizeCalc::kMaxOffset);
  UpDown4 = spin(-TResizeCalc::kMaxOffset, TResizeCalc::kMaxOffset);
  form->addRow("&Width:", UpDown1);
  form->addRow("&Height:", UpDown2);
  CheckBox1 = new QCheckBox("&Maintain  aspect ratio", this);
  CheckBox1->setChecked(true);
  form->addRow(CheckBox1);
  ComboBox1 = new QComboBox(this);
  for (const char* name : {"Nearest", "Draft", "Linear", "Cosine", "Spline", "Lanczos", "Mitchell"})
    ComboBox1->addItem(name);
  ComboBox1->setCurrentIndex(2);
  ResamplerLabel = new QLabel("&Resampler:", this);
  ResamplerLabel->setBuddy(ComboBox1);
  form->addRow(ResamplerLabel, ComboBox1);
  LeftLabel = new QLabel("&Left:", this);
  TopLabel = new QLabel("&Top:", this);
  LeftLabel->setBuddy(UpDown3);
  TopLabel->setBuddy(UpDown4);
  form->addRow(LeftLabel, UpDown3);
  form->addRow(TopLabel, UpDown4);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  form->addRow(buttons);
  form->setSizeConstraint(QLayout::SetFixedSize);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  // A spin box announces its value again when its edit is confirmed with
  // Enter, changed or not; taken as a change, the height the width just
  // set would round the width back (360 -> 238 -> 359). Only a value other
  // than the one shown is a change.
  connect(UpDown1, &QSpinBox::valueChanged, this, [this](int v) {
    if (v == Calc.Width()) return;
    Calc.WidthChanged(v);
    ShowCalc();
  });
  connect(UpDown2, &QSpinBox::valueChanged, this, [this](int v) {
    if (v == Calc.Height()) return;
    Calc.HeightChanged(v);
    ShowCalc();
  });
  connect(CheckBox1, &QCheckBox::toggled, this, [this](bool on) { Calc.SetKeepAspect(on); });
}

void TResizeDlg::ShowCalc() {
  // Shown without their change events, so what follows never feeds back.
  const QSignalBlocker b1(UpDown1), b2(UpDown2), b3(UpDown3), b4(UpDown4);
  if (UpDown1->value() != Calc.Width()) UpDown1->setValue(Calc.Width());
  if (UpDown2->value() != Calc.Height()) UpDown2->setValue(Calc.Height());
  UpDown3->setValue(Calc.Left());
  UpDown4->setValue(Calc.Top());
}

void TResizeDlg::Prepare(const std::string& Caption, int32_t Mode, bool KeepAspect, const TResizeValues& Values) {
  setWindowTitle(QString::fromStdString(Caption));
  const bool resize = Mode == 1, canvas = Mode == 3;
  ComboBox1->setVisible(resize);
  ResamplerLabel->setVisible(resize);
  CheckBox1->setVisible(resize);
  for (QWidget* w : {static_cast<QWidget*>(UpDown3), static_cast<QWidget*>(UpDown4),
                     static_cast<QWidget*>(LeftLabel), static_cast<QWidget*>(TopLabel)})
    w->setVisible(canvas);
  {
    const QSignalBlocker b(CheckBox1);
    CheckBox1->setChecked(KeepAspect);
  }
  if (Values.ResamplerIndex >= 0 && Values.ResamplerIndex <= 6) ComboBox1->setCurrentIndex(Values.ResamplerIndex);
  Calc.Show(Mode, KeepAspect, Values.Width, Values.Height, Values.Width, Values.Height);
  ShowCalc();
}

TResizeValues TResizeDlg::Result() const {
  TResizeValues v;
  v.Width = UpDown1->value();
  v.Height = UpDown2->value();
  v.ResamplerIndex = ComboBox1->currentIndex();
  v.Left = UpDown3->value();
  v.Top = UpDown4->value();
  return v;
}

TResizeDlg* ResizeDlg(QWidget* Parent) {
  static QPointer<TResizeDlg> dialog;
  if (!dialog) dialog = new TResizeDlg(Parent);
  return dialog;
}

bool RunResizeDialog(QWidget* Parent, const std::string& Caption, int32_t Mode, bool KeepAspect,
                     TResizeValues& Values) {
  TResizeDlg* d = ResizeDlg(Parent);
  d->Prepare(Caption, Mode, KeepAspect, Values);
  if (d->exec() != QDialog::Accepted) return false;
  Values = d->Result();
  return true;
}
