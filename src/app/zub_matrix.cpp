#include "zub_matrix.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "zub_dlgcalc.h"

namespace {

// The four thresholds in the order of their edits: the low pair, then the high pair.
int32_t& ThresholdField(TCustomMatrix& M, int32_t I) {
  switch (I) {
    case 0: return M.Low;
    case 1: return M.LowValue;
    case 2: return M.High;
    default: return M.HighValue;
  }
}

}  // namespace

TMatrixDlg::TMatrixDlg(QWidget* Parent) : QDialog(Parent) {
  setWindowTitle("Matrix");
  auto* top = new QVBoxLayout(this);
  StringGrid1 = new QTableWidget(5, 5, this);
  StringGrid1->horizontalHeader()->hide();
  StringGrid1->verticalHeader()->hide();
  StringGrid1->horizontalHeader()->setDefaultSectionSize(48);
  StringGrid1->setFixedSize(5 * 48 + 4, 5 * StringGrid1->verticalHeader()->defaultSectionSize() + 4);
  top->addWidget(StringGrid1);
  connect(StringGrid1, &QTableWidget::cellChanged, this, [this](int row, int column) {
    if (syncing_ || matrix_ == nullptr) return;
    const QTableWidgetItem* item = StringGrid1->item(row, column);
    matrix_->Kernel[static_cast<size_t>(column + row * 5)] =
        MatrixIntegerFromText(item ? item->text().toStdString() : std::string());
  });

  auto* grid = new QGridLayout;
  DivideBy = new QLineEdit(this);
  Add = new QLineEdit(this);
  grid->addWidget(new QLabel("Divide by:", this), 0, 0);
  grid->addWidget(DivideBy, 0, 1);
  grid->addWidget(new QLabel("Add:", this), 0, 2);
  grid->addWidget(Add, 0, 3);
  connect(DivideBy, &QLineEdit::textEdited, this, [this](const QString& t) {
    if (matrix_) matrix_->Divisor = MatrixIntegerFromText(t.toStdString());
  });
  connect(Add, &QLineEdit::textEdited, this, [this](const QString& t) {
    if (matrix_) matrix_->Bias = MatrixIntegerFromText(t.toStdString());
  });
  for (int32_t i = 0; i < 4; ++i) {
    Threshold[i] = new QLineEdit(this);
    const int row = 1 + i / 2, column = (i % 2) * 2;
    grid->addWidget(Threshold[i], row, column);
    if (i % 2 == 0) grid->addWidget(new QLabel("->", this), row, 1);
    connect(Threshold[i], &QLineEdit::textEdited, this, [this, i](const QString& t) {
      if (matrix_) ThresholdField(*matrix_, i) = MatrixThresholdFromText(t.toStdString());
    });
  }
  top->addLayout(grid);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  GetLastButton = buttons->addButton("Get Last", QDialogButtonBox::ActionRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(GetLastButton, &QPushButton::clicked, this, &TMatrixDlg::GetLastClick);
  top->addWidget(buttons);
}

void TMatrixDlg::Prepare(TCustomMatrix& Matrix, const TLastKernel& Last) {
  matrix_ = &Matrix;
  last_ = &Last;
  PrepareMatrixForShow(Matrix);
  ShowMatrix();
  for (int32_t i = 0; i < 4; ++i) Threshold[i]->setText(QString::number(ThresholdField(Matrix, i)));
}

void TMatrixDlg::ShowMatrix() {
  syncing_ = true;
  for (int r = 0; r < 5; ++r)
    for (int c = 0; c < 5; ++c)
      StringGrid1->setItem(r, c, new QTableWidgetItem(QString::number(matrix_->Kernel[static_cast<size_t>(c + r * 5)])));
  syncing_ = false;
  DivideBy->setText(QString::number(matrix_->Divisor));
  Add->setText(QString::number(matrix_->Bias));
}

void TMatrixDlg::GetLastClick() {
  if (matrix_ == nullptr || last_ == nullptr) return;
  GetLastKernel(*matrix_, *last_);
  ShowMatrix();
}

TMatrixDlg* MatrixDlg(QWidget* Parent) {
  static QPointer<TMatrixDlg> dialog;
  if (!dialog) dialog = new TMatrixDlg(Parent);
  return dialog;
}

bool RunMatrixDialog(QWidget* Parent, TCustomMatrix& Matrix, const TLastKernel& Last) {
  TMatrixDlg* d = MatrixDlg(Parent);
  d->Prepare(Matrix, Last);
  return d->exec() == QDialog::Accepted;
}
