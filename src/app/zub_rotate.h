#pragma once
// The rotate dialog (TRotateDlg): a quarter or half turn, or a free angle in
// tenths of a degree, handed back as the rotation code DoAction runs.
#include <cstdint>

#include <QDialog>

class QLineEdit;
class QRadioButton;
class QSpinBox;

class TRotateDlg : public QDialog {
 public:
  explicit TRotateDlg(QWidget* Parent = nullptr);

  // The code of the chosen button, or 10000 + tenths for "&Free".
  int32_t Code() const;
  void Choose(int32_t Choice);

  QRadioButton* Right90 = nullptr;   // 501
  QRadioButton* Right180 = nullptr;  // 502
  QRadioButton* Left90 = nullptr;    // 503
  QRadioButton* Free = nullptr;      // 10000
  QLineEdit* Edit1 = nullptr;
  QSpinBox* UpDown1 = nullptr;  // tenths of a degree, 0..3600

 private:
  void ChoiceChanged(int32_t Choice);
  int32_t choice_ = 501;
};

// "&Rotate...": the dialog with "&Right 90º" checked; true for OK with the
// rotation code in Code.
bool RunRotateDialog(QWidget* Parent, int32_t& Code);
TRotateDlg* RotateDlg(QWidget* Parent = nullptr);
