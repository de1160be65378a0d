#include "zub_text.h"

#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFontDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include "zub_bcdlg.h"
#include "zub_dlgcalc.h"

namespace {

// The family as fontconfig knows it. Where several foundries make a family
// the font dialog names it "Family [foundry]", a name fontconfig matches to
// nothing, so the text would come out in its fallback face. A name kept
// from an earlier run may carry the foundry too.
std::string FontconfigFamily(const std::string& Name) {
  const size_t open = Name.rfind(" [");
  if (open == std::string::npos || open == 0 || Name.back() != ']') return Name;
  return Name.substr(0, open);
}

}  // namespace

TTextDlg::TTextDlg(QWidget* Parent) : QDialog(Parent) {
  setWindowTitle("Text");
  auto* top = new QVBoxLayout(this);
  Memo1 = new QPlainTextEdit(this);
  top->addWidget(Memo1);
  auto* row = new QHBoxLayout;
  FontButton = new QPushButton("&Font", this);
  ColorButton = new QPushButton("&Color", this);
  auto* aaLabel = new QLabel("&Anti-Aliasing:", this);
  GaugeBar1 = new QSlider(Qt::Horizontal, this);
  GaugeBar1->setRange(0, 4);
  aaLabel->setBuddy(GaugeBar1);
  for (QWidget* w : {static_cast<QWidget*>(FontButton), static_cast<QWidget*>(ColorButton),
                     static_cast<QWidget*>(aaLabel), static_cast<QWidget*>(GaugeBar1)})
    row->addWidget(w);
  top->addLayout(row);
  Image321 = new QLabel(this);
  Image321->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  auto* scroll = new QScrollArea(this);
  scroll->setWidget(Image321);
  scroll->setWidgetResizable(true);
  scroll->setMinimumSize(320, 120);
  top->addWidget(scroll);
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
  top->addWidget(box);

  Timer1 = new QTimer(this);
  Timer1->setSingleShot(true);
  connect(Timer1, &QTimer::timeout, this, &TTextDlg::RenderTextPreview);
  connect(Memo1, &QPlainTextEdit::textChanged, this, [this] { Timer1->start(1000); });
  connect(GaugeBar1, &QSlider::valueChanged, this, &TTextDlg::RenderTextPreview);
  connect(FontButton, &QPushButton::clicked, this, &TTextDlg::FontClick);
  connect(ColorButton, &QPushButton::clicked, this, &TTextDlg::ColorClick);
}

void TTextDlg::Prepare(const TTextDialogData& Data) {
  Font.Name = Data.FontName.empty() ? "Arial" : FontconfigFamily(Data.FontName);
  Font.Size = Data.FontSize > 0 ? Data.FontSize : 10;
  // Only bold and italic are kept with the text; the stored default 12
  // must not turn into underlined, struck-out letters.
  Font.Style = static_cast<uint8_t>(Data.FontStyle & (fsBold | fsItalic));
  Background = Data.Background;
  // The text is written in the foreground colour of the moment.
  Color = Data.Foreground;
  Memo1->setPlainText(QString::fromStdString(Data.Text));
  Timer1->stop();
  RenderTextPreview();
}

void TTextDlg::RenderTextPreview() {
  Timer1->stop();
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  ::RenderTextPreview(Memo1->toPlainText().toStdString(), Font, Color, GaugeBar1->value(), Background, Preview);
  Image321->setPixmap(Preview.Empty() ? QPixmap() : QPixmap::fromImage(BitmapToImage(Preview)));
  QGuiApplication::restoreOverrideCursor();
}

void TTextDlg::FontClick() {
  QFont f(QString::fromStdString(Font.Name), Font.Size);
  f.setBold(Font.Style & fsBold);
  f.setItalic(Font.Style & fsItalic);
  f.setUnderline(Font.Style & fsUnderline);
  f.setStrikeOut(Font.Style & fsStrikeOut);
  bool ok = false;
  const QFont chosen = QFontDialog::getFont(&ok, f, this, "Font", QFontDialog::ScalableFonts);
  if (!ok) return;
  Font.Name = FontconfigFamily(chosen.family().toStdString());
  Font.Size = chosen.pointSize() > 0 ? chosen.pointSize() : Font.Size;
  Font.Style = static_cast<uint8_t>((chosen.bold() ? fsBold : 0) | (chosen.italic() ? fsItalic : 0) |
                                    (chosen.underline() ? fsUnderline : 0) | (chosen.strikeOut() ? fsStrikeOut : 0));
  RenderTextPreview();
}

void TTextDlg::ColorClick() {
  const QColor c = QColorDialog::getColor(QColor::fromRgb(Color & 0xFFFFFF), this);
  if (!c.isValid()) return;
  Color = 0xFF000000u | (static_cast<uint32_t>(c.red()) << 16) | (static_cast<uint32_t>(c.green()) << 8) |
          static_cast<uint32_t>(c.blue());
  RenderTextPreview();
}

void TTextDlg::Collect(TTextDialogData& Data) const {
  Data.Text = Memo1->toPlainText().toStdString();
  Data.FontName = Font.Name;
  Data.FontSize = Font.Size;
  Data.FontStyle = Font.Style;
  if (Data.Rendered != nullptr) {
    if (Preview.Empty())
      Data.Rendered->SetSize(0, 0);
    else
      Data.Rendered->Assign(&Preview);
  }
}

TTextDlg* TextDlg(QWidget* Parent) {
  static QPointer<TTextDlg> dialog;
  if (!dialog) dialog = new TTextDlg(Parent);
  return dialog;
}

bool TextDialog(QWidget* Parent, TTextDialogData& Data) {
  TTextDlg* d = TextDlg(Parent);
  d->Prepare(Data);
  if (d->exec() != QDialog::Accepted) return false;
  // Text typed in the last second before OK is drawn too.
  if (d->Timer1->isActive()) d->RenderTextPreview();
  d->Collect(Data);
  return true;
}
