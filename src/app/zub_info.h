#pragma once
// The information box (TInfoDlg): the EXIF summary of the opened file.
#include <QDialog>

class QPlainTextEdit;

class TInfoDlg : public QDialog {
 public:
  explicit TInfoDlg(QWidget* Parent = nullptr);
  QPlainTextEdit* Memo1 = nullptr;
};

TInfoDlg* InfoDlg(QWidget* Parent = nullptr);
// Fills the box with ExifInfoText() and returns it, not yet shown.
TInfoDlg* PrepareInfoDlg(QWidget* Parent);
// "Image EXIF &Info": the box, modal.
void ImageInfo1Click(QWidget* Parent);
