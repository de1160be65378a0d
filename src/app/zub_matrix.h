#pragma once
// The matrix dialog (TMatrixDlg): the custom 5 x 5 kernel with its divisor,
// bias and the levels step after it, edited in place in the custom-matrix
// command's own state, and "Get Last" to start from the kernel a convolution
// last ran with.
#include <QDialog>

#include "zub_actions.h"

class QLineEdit;
class QPushButton;
class QTableWidget;

class TMatrixDlg : public QDialog {
 public:
  explicit TMatrixDlg(QWidget* Parent = nullptr);

  // FormShow: edits Matrix from now on; a divisor of 0 becomes 1.
  void Prepare(TCustomMatrix& Matrix, const TLastKernel& Last);

  QTableWidget* StringGrid1 = nullptr;
  QLineEdit* DivideBy = nullptr;        // "Divide by:"
  QLineEdit* Add = nullptr;             // "Add:"
  QLineEdit* Threshold[4] = {};         // low, low value, high, high value
  QPushButton* GetLastButton = nullptr;  // "Get Last"

  void GetLastClick();

 private:
  void ShowMatrix();
  TCustomMatrix* matrix_ = nullptr;
  const TLastKernel* last_ = nullptr;
  bool syncing_ = false;
};

// "&Program": the dialog on Matrix; true for OK, when the caller runs the
// custom-matrix command (tag 399). Edits stay in Matrix either way.
bool RunMatrixDialog(QWidget* Parent, TCustomMatrix& Matrix, const TLastKernel& Last);
TMatrixDlg* MatrixDlg(QWidget* Parent = nullptr);
