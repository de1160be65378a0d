#include "zub_info.h"

#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QVBoxLayout>

#include "zub_dlgcalc.h"

TInfoDlg::TInfoDlg(QWidget* Parent) : QDialog(Parent) {
  setWindowTitle("EXIF Info");
  auto* top = new QVBoxLayout(this);
  Memo1 = new QPlainTextEdit(this);
  Memo1->setReadOnly(true);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setMinimumSize(360, 300);
  top->addWidget(Memo1);
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  top->addWidget(box);
}

TInfoDlg* InfoDlg(QWidget* Parent) {
  static QPointer<TInfoDlg> dialog;
  if (!dialog) dialog = new TInfoDlg(Parent);
  return dialog;
}

TInfoDlg* PrepareInfoDlg(QWidget* Parent) {
  TInfoDlg* d = InfoDlg(Parent);
  d->Memo1->setPlainText(QString::fromStdString(ExifInfoText()));
  return d;
}

void ImageInfo1Click(QWidget* Parent) { PrepareInfoDlg(Parent)->exec(); }
