#pragma once
// The effect dialog (TBCDlg): one modal dialog for the fourteen effects with
// one to three numbers. It shows the picture before and after the effect in
// two 128-pixel previews that zoom and pan together, keeps each kind's
// values for the run, and can proof the effect on the whole image while it
// stays open. All of its logic is TBCDlgState; the widgets forward events to
// it and show what it holds.
#include <cstdint>
#include <functional>

#include <QDialog>
#include <QImage>
#include <QWidget>

#include "editor_ui.h"
#include "zub_bcstate.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QTimer;

// The pixels of Bmp as an opaque image (the alpha byte is not shown).
QImage BitmapToImage(const TBitmap32& Bmp);

class TBCDlg;

// Image321 and Image322: a bitmap at the dialog's offsets and zoom, drawn
// with nearest-neighbour pixels; dragging either pans both.
class TBCPreview : public QWidget {
 public:
  TBCPreview(TBCDlg& Dialog, int32_t Which, QWidget* Parent);
  QSize sizeHint() const override { return {128, 128}; }

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;

 private:
  TBCDlg& dialog_;
  int32_t which_;
};

class TBCDlg : public QDialog {
 public:
  explicit TBCDlg(QWidget* Parent = nullptr);

  // The tick count the dialog stamps its changes with; tests replace it.
  std::function<uint32_t()> Clock;

  // FormShow with Setup's kind, caption, labels and bitmaps.
  void Prepare(const TParamDialogSetup& Setup);

  TBCDlgState State;
  QSlider* TrackBar[4] = {};  // by Tag: TrackBar1, TrackBar2, TrackBar3 (zoom), TrackBar4
  QLabel* Label[4] = {};      // Label1, Label2, the zoom label, Label4
  QLineEdit* Edit[3] = {};    // Edit1, Edit2, Edit3
  QCheckBox* ChannelBox[3] = {};
  QGroupBox* Channels = nullptr;
  TBCPreview* Image321 = nullptr;
  TBCPreview* Image322 = nullptr;
  QPushButton* OKBtn = nullptr;
  QPushButton* CancelBtn = nullptr;
  QPushButton* ProofButton = nullptr;
  QPushButton* UnproofButton = nullptr;
  QTimer* Timer1 = nullptr;

  void TrackBarChange(int32_t Tag, int Position);
  void ChannelClick(int32_t Channel, bool Checked);
  void EditChange(int32_t Edit, const QString& Text);
  void ProofButtonClick();
  void UnproofButtonClick();
  void Timer1Timer();
  // Shows the state's slider positions and edits (all but Except) and
  // repaints the previews.
  void ShowState(int32_t ExceptEdit = -1);

  void done(int Result) override;

 private:
  uint32_t Now() const;
  bool syncing_ = false;
};

// The parameter dialog as the editor asks for it: shown modally with Setup;
// true for OK, Values then holds the sliders and channel boxes. The dialog
// is made on first use and kept, so its values last for the run.
bool RunParamDialog(QWidget* Parent, const TParamDialogSetup& Setup, TParamValues& Values);
// The one dialog of the run, made on first use.
TBCDlg* BCDlg(QWidget* Parent = nullptr);
