#pragma once
// The text dialog (TTextDlg) of the Text tool: the text, its font, colour
// and anti-aliasing, with a preview of the text as it will float on the
// picture. RenderTextPreview draws it; the memo's changes wait a second so
// typing stays quick.
#include <QDialog>

#include "editor_ui.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSlider;
class QTimer;

class TTextDlg : public QDialog {
 public:
  explicit TTextDlg(QWidget* Parent = nullptr);

  // FormShow: Data's text, font and colours.
  void Prepare(const TTextDialogData& Data);
  // Fills Data with the text, font and the rendered preview.
  void Collect(TTextDialogData& Data) const;
  void RenderTextPreview();

  QPlainTextEdit* Memo1 = nullptr;
  QPushButton* FontButton = nullptr;   // "&Font"
  QPushButton* ColorButton = nullptr;  // "&Color"
  QSlider* GaugeBar1 = nullptr;        // "&Anti-Aliasing:" 0..4
  QLabel* Image321 = nullptr;
  QTimer* Timer1 = nullptr;

  TFont Font;
  TColor32 Color = 0xFF000000;
  TColor32 Background = 0xFFFFFFFF;
  TBitmap32 Preview;

 private:
  void FontClick();
  void ColorClick();
};

// The Text tool's dialog: shown modally with Data; on OK Data holds the
// text and font chosen and Data.Rendered the drawn text (left empty for a
// text that draws nothing, so no layer is made).
bool TextDialog(QWidget* Parent, TTextDialogData& Data);
TTextDlg* TextDlg(QWidget* Parent = nullptr);
