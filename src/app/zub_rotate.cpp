#include "zub_rotate.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPointer>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include "zub_dlgcalc.h"

TRotateDlg::TRotateDlg(QWidget* Parent) : QDialog(Parent) {
  setWindowTitle("Rotate");
  auto* top = new QVBoxLayout(this);
  Right90 = new QRadioButton("&Right 90º", this);
  Right180 = new QRadioButton("Right &180º", this);
  Left90 = new QRadioButton("&Left 90º", this);
  Free = new QRadioButton("&Free", this);
  const std::pair<QRadioButton*, int32_t> buttons[] = {
      {Right90, kRotateRight90}, {Right180, kRotate180}, {Left90, kRotateLeft90}, {Free, kRotateFree}};
  for (const auto& [button, tag] : buttons) {
    top->addWidget(button);
    connect(button, &QRadioButton::toggled, this, [this, tag](bool on) {
      if (on) ChoiceChanged(tag);
    });
  }
  auto* row = new QHBoxLayout;
  Edit1 = new QLineEdit(RotateTextFromTenths(0).c_str(), this);
  UpDown1 = new QSpinBox(this);
  UpDown1->setRange(0, 3600);
  row->addWidget(Edit1);
  row->addWidget(UpDown1);
  top->addLayout(row);
  connect(Edit1, &QLineEdit::textEdited, this, [this](const QString& t) {
    const int32_t tenths = RotateTenthsFromText(t.toStdString());
    if (tenths < 0 || tenths == UpDown1->value()) return;
    // Typing moves the up-down without rewriting what is being typed.
    const QSignalBlocker b(UpDown1);
    UpDown1->setValue(tenths);
  });
  connect(UpDown1, &QSpinBox::valueChanged, this,
          [this](int v) { Edit1->setText(QString::fromStdString(RotateTextFromTenths(v))); });
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
  top->addWidget(box);
  Choose(kRotateRight90);
}

void TRotateDlg::ChoiceChanged(int32_t Choice) {
  choice_ = Choice;
  const bool free = Choice == kRotateFree;
  Edit1->setEnabled(free);
  UpDown1->setEnabled(free);
}

void TRotateDlg::Choose(int32_t Choice) {
  QRadioButton* b = Choice == kRotate180 ? Right180 : Choice == kRotateLeft90 ? Left90 : Choice == kRotateFree ? Free : Right90;
  b->setChecked(true);
  ChoiceChanged(Choice == kRotate180 || Choice == kRotateLeft90 || Choice == kRotateFree ? Choice : kRotateRight90);
}

int32_t TRotateDlg::Code() const { return RotateCode(choice_, UpDown1->value()); }

TRotateDlg* RotateDlg(QWidget* Parent) {
  static QPointer<TRotateDlg> dialog;
  if (!dialog) dialog = new TRotateDlg(Parent);
  return dialog;
}

bool RunRotateDialog(QWidget* Parent, int32_t& Code) {
  TRotateDlg* d = RotateDlg(Parent);
  d->Choose(kRotateRight90);
  if (d->exec() != QDialog::Accepted) return false;
  Code = d->Code();
  return true;
}
