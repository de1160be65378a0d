#pragma once
// The resize dialog (TResizeDlg): a new size for Resize (mode 1), the size
// of a new image (mode 2) or a canvas size with the picture's offsets
// (mode 3). The arithmetic is TResizeCalc; the widgets show it.
#include <string>

#include <QDialog>

#include "editor_ui.h"
#include "zub_dlgcalc.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QSpinBox;

class TResizeDlg : public QDialog {
 public:
  explicit TResizeDlg(QWidget* Parent = nullptr);

  // FormShow: Caption, the mode's rows, and the size Values holds.
  void Prepare(const std::string& Caption, int32_t Mode, bool KeepAspect, const TResizeValues& Values);
  TResizeValues Result() const;

  TResizeCalc Calc;
  QSpinBox* UpDown1 = nullptr;  // width
  QSpinBox* UpDown2 = nullptr;  // height
  QSpinBox* UpDown3 = nullptr;  // "&Left:"
  QSpinBox* UpDown4 = nullptr;  // "&Top:"
  QCheckBox* CheckBox1 = nullptr;
  QComboBox* ComboBox1 = nullptr;
  QLabel* ResamplerLabel = nullptr;
  QLabel* LeftLabel = nullptr;
  QLabel* TopLabel = nullptr;

 private:
  void ShowCalc();
};

// The dialog as the editor asks for it; Values.Width and Values.Height come
// in as the picture's size (the canvas offsets centre on it); true for OK.
bool RunResizeDialog(QWidget* Parent, const std::string& Caption, int32_t Mode, bool KeepAspect,
                     TResizeValues& Values);
TResizeDlg* ResizeDlg(QWidget* Parent = nullptr);
