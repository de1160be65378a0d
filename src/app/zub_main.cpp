// The main window: view, menus from the table, status bar, document commands,
// the window list and the receiving side of the hand-over.
#include "zub_main.h"

#include "zub_actions.h"
#include "zub_plugins.h"
#include "zub_print.h"
#include "zub_twain.h"
#include "zub_twain_hook.h"
#include "sysinfo.h"
#include "zub_bcdlg.h"
#include "zub_histogram.h"
#include "zub_resize.h"
#include "zub_text.h"
#include "zub_tools.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QCursor>
#include <QToolTip>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QStatusBar>
#include <QUrl>

#include <QButtonGroup>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPixmap>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QWindow>
#include <random>
#include "img_viewcoords.h"
#include "raster_rangebars.h"
#include "zub_layers.h"
#include "exif_reader.h"
#include "platform_graphics.h"
#include "raster_filterindex.h"
#include "raster_image_view.h"
#include "shell.h"
#include "utilities.h"
#include "view_widget.h"
#include "zub_about.h"
#include "zub_document.h"
#include "zub_instance.h"
#include "zub_main_engine.h"

namespace {

// Settings keep platform colours 0x00BBGGRR; the engine works in 0xAARRGGBB.
TColor32 FromPlatformColor(int32_t C) {
  const uint32_t U = static_cast<uint32_t>(C);
  return 0xFF000000u | (U & 0xFF) << 16 | (U & 0xFF00) | (U >> 16 & 0xFF);
}
int32_t ToPlatformColor(TColor32 C) {
  return static_cast<int32_t>((C & 0xFF) << 16 | (C & 0xFF00) | (C >> 16 & 0xFF));
}

// A menu caption without its accelerator marks ("&&" is a plain "&").
std::string StripHotkeys(const std::string& Caption) {
  std::string Out;
  for (size_t i = 0; i < Caption.size(); ++i) {
    if (Caption[i] == '&') {
      if (i + 1 < Caption.size() && Caption[i + 1] == '&') {
        Out += '&';
        ++i;
      }
      continue;
    }
    Out += Caption[i];
  }
  return Out;
}

// Characters, not bytes, decide whether an argument is too short to be a name.
size_t CharacterCount(const std::string& S) {
  size_t N = 0;
  for (unsigned char C : S) N += (C & 0xC0) != 0x80;
  return N;
}

bool FileExists(const std::string& Name) {
  std::error_code ec;
  return std::filesystem::is_regular_file(Name, ec);
}

// The tools' screen cursors 1 to 8: a small cross whose centre is the hot
// spot and, below to the right, a sign of the tool; black on a white rim so
// they show on dark and light pictures alike.
QCursor ToolCursor(int32_t Tool) {
  QPixmap Pixmap(32, 32);
  Pixmap.fill(Qt::transparent);
  QPainterPath Sign;
  switch (Tool) {
    case 1:  // a selection frame
      Sign.addRect(15, 15, 13, 10);
      break;
    case 2:  // the round of the brush
      Sign.addEllipse(QPointF(22, 22), 6, 6);
      break;
    case 3:  // a pipette, tip down to the left
      Sign.moveTo(14, 29);
      Sign.lineTo(25, 18);
      Sign.addRect(24, 13, 5, 5);
      break;
    case 4:  // a letter
      Sign.addText(QPointF(16, 29), QFont("Sans", 12, QFont::Bold), "A");
      break;
    case 5:  // a smudge: a ring round a dot
      Sign.addEllipse(QPointF(22, 22), 6, 6);
      Sign.addEllipse(QPointF(22, 22), 1.5, 1.5);
      break;
    case 6:  // a pencil, tip down to the left
      Sign.moveTo(14, 29);
      Sign.lineTo(18, 28);
      Sign.lineTo(29, 17);
      Sign.lineTo(26, 14);
      Sign.lineTo(15, 25);
      Sign.closeSubpath();
      break;
    case 7:  // a tilted bucket and its drop
      Sign.moveTo(20, 14);
      Sign.lineTo(28, 22);
      Sign.lineTo(22, 28);
      Sign.lineTo(14, 20);
      Sign.closeSubpath();
      Sign.addRect(28, 24, 2, 4);
      break;
    case 8:  // one colour becoming another
      Sign.addRect(14, 14, 6, 6);
      Sign.addRect(23, 23, 6, 6);
      Sign.moveTo(20, 20);
      Sign.lineTo(23, 23);
      break;
    default:
      break;
  }
  QPainterPath Cross;
  Cross.moveTo(0, 7);
  Cross.lineTo(14, 7);
  Cross.moveTo(7, 0);
  Cross.lineTo(7, 14);
  QPainter P(&Pixmap);
  for (const QPen& Pen : {QPen(Qt::white, 3), QPen(Qt::black, 1)}) {
    P.setPen(Pen);
    P.drawPath(Cross);
    P.drawPath(Sign);
  }
  return QCursor(Pixmap, 7, 7);
}

}  // namespace

// A colour swatch of the colour panel.
class TColorBox : public QWidget {
 public:
  using QWidget::QWidget;
  TColor32 Color = 0xFF000000u;
  std::function<void()> OnClick;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter P(this);
    P.fillRect(rect(), QColor::fromRgb(Color | 0xFF000000u));
    P.setPen(palette().color(QPalette::Dark));
    P.drawRect(rect().adjusted(0, 0, -1, -1));
  }
  // A click is a press and a release of the left button over the box. The
  // box takes the press itself: passed on, it would start a drag of the
  // toolbar that the release, taken here, never ends.
  void mousePressEvent(QMouseEvent* E) override { E->accept(); }
  void mouseReleaseEvent(QMouseEvent* E) override {
    if (E->button() == Qt::LeftButton && rect().contains(E->position().toPoint()) && OnClick) OnClick();
  }
};

// The palette: hue across, from white through the full colour to black down.
class TPaletteBox : public QWidget {
 public:
  explicit TPaletteBox(QWidget* Parent) : QWidget(Parent), image_(64, 24, QImage::Format_RGB32) {
    setFixedSize(image_.size());
    setMouseTracking(true);
    // A right click picks the background colour. Passed on, it would open
    // the tool bar's menu, which takes the mouse away with no leave, and
    // the foreground box would go on showing the colour under it.
    setContextMenuPolicy(Qt::PreventContextMenu);
    for (int y = 0; y < image_.height(); ++y)
      for (int x = 0; x < image_.width(); ++x) {
        const int Hue = x * 360 / image_.width();
        const int Light = 255 - y * 255 / (image_.height() - 1);
        image_.setPixel(x, y, QColor::fromHsl(Hue % 360, 255, Light).rgb());
      }
  }
  std::function<void(bool Inside, TColor32 Color)> OnHoverColor;
  std::function<void(TMouseButton Button, TColor32 Color)> OnPick;
  TColor32 ColorAt(QPoint P) const { return image_.pixel(P) & 0xFFFFFFu; }

 protected:
  void paintEvent(QPaintEvent*) override { QPainter(this).drawImage(0, 0, image_); }
  // The foreground box previews only while the mouse is over the palette;
  // everywhere else, and after a pick with any button, it shows the real
  // foreground colour.
  void mouseMoveEvent(QMouseEvent* E) override { Hover(E->position().toPoint()); }
  void leaveEvent(QEvent*) override { EndPreview(); }
  void mousePressEvent(QMouseEvent* E) override {
    const QPoint P = E->position().toPoint();
    if (!OnPick || !image_.rect().contains(P)) return;
    const TMouseButton B = E->button() == Qt::RightButton    ? mbRight
                           : E->button() == Qt::MiddleButton ? mbMiddle
                                                             : mbLeft;
    OnPick(B, ColorAt(P));
    EndPreview();
  }
  // Taken here like the press; the preview comes back with the next move.
  void mouseReleaseEvent(QMouseEvent*) override { EndPreview(); }

 private:
  void Hover(QPoint P) {
    if (!image_.rect().contains(P)) {
      EndPreview();
    } else if (OnHoverColor) {
      OnHoverColor(true, ColorAt(P));
    }
  }
  void EndPreview() {
    if (OnHoverColor) OnHoverColor(false, 0);
  }

  QImage image_;
};

namespace {

// The recent-files list's items under File > Recent Files.
class TQtMruMenu : public TMruMenu {
 public:
  TQtMruMenu(TzubForm& Form, QMenu* Menu, QAction* Parent) : form_(Form), menu_(Menu), parent_(Parent) {}
  int Count() const override { return static_cast<int>(menu_->actions().size()); }
  void Add(const std::string& Caption) override { menu_->addAction(QString::fromStdString(Caption)); }
  void CopyClickHandler(int, int To) override {
    QAction* Item = menu_->actions().at(To);
    if (To == 0) return;  // the template item has its own
    QObject::connect(Item, &QAction::triggered, &form_, [this, Item] { form_.OpenRecentFile1Click(Item); });
  }
  void SetCaption(int Index, const std::string& Caption) override {
    menu_->actions().at(Index)->setText(QString::fromStdString(Caption));
  }
  void SetItemVisible(int Index, bool Visible) override { menu_->actions().at(Index)->setVisible(Visible); }
  void SetParentVisible(bool Visible) override { parent_->setVisible(Visible); }

 private:
  TzubForm& form_;
  QMenu* menu_;
  QAction* parent_;
};

}  // namespace

TzubForm::TzubForm(QWidget* Parent) : QMainWindow(Parent) {
  setObjectName("zubForm");
  resize(800, 600);
  setAcceptDrops(true);

  view_ = std::make_unique<TImgView32>();
  viewWidget_ = new TViewWidget(this);
  viewWidget_->setObjectName("Image321");
  setCentralWidget(viewWidget_);
  viewWidget_->SetControl(view_.get());
  view_->SetScale(1.0f);
  // The central widget fills the window's client area, so the grip in the
  // view's corner is the window's corner.
  view_->SetParentClientAligned(true);
  view_->OnSizeGripResize = [this](void*) {
    if (QWindow* W = windowHandle()) W->startSystemResize(Qt::BottomEdge | Qt::RightEdge);
  };
  view_->OnScroll = [this](void*) { PlaceSelectionFrame(); };

  editor_ = std::make_unique<TEditor>(*view_, *this);
  document_ = std::make_unique<TZubDocument>(*editor_);
  actions_ = std::make_unique<TEditorActions>(*editor_);
  mouseTools_ = std::make_unique<TMouseTools>(*editor_);
  plugins_ = std::make_unique<TPluginHost>(ProgramFolder());
  plugins_->MainWindow = this;
  printing_ = std::make_unique<TPrinting>(this);
  twain_ = std::make_unique<TTwainSession>(*editor_);
  twain_->MessageHook = QtTwainMessageHook();
  twain_->CloseImage = [this] { return document_->CloseImage(); };
  twain_->MainWindow = this;
  twain_->BringToFront = [this] { BringToFront(); };
  document_->FlattenAllLayers = [this] { ::FlattenAllLayers(*editor_); };
  Random = [](int32_t N) {
    static std::mt19937 Gen{std::random_device{}()};
    return std::uniform_int_distribution<int32_t>(0, N - 1)(Gen);
  };

  for (int32_t Tool = 1; Tool <= 8; ++Tool) RegisterScreenCursor(Tool, ToolCursor(Tool));
  BuildStatusBar();
  BuildToolBars();
  BuildMenus();
  ConnectEngineHooks();
  recentMenu_ = std::make_unique<TQtMruMenu>(*this, SubMenu("RecentFiles1"), MenuItem("RecentFiles1"));
  recent_ = std::make_unique<TMRU>(recentMenu_.get());
  document_->Recent = recent_.get();
  editor_->SetTool(1);
  editor_->gLastActionTag = 0;
  editor_->UpdateCaption();
  UpdateJpegChecks();
  UpdateColorLabels();
  // The window previews keys and checks its menus before a shortcut fires.
  qApp->installEventFilter(this);
}

TzubForm::~TzubForm() {
  twain_.reset();
  printing_.reset();
  plugins_.reset();
  mouseTools_.reset();
  actions_.reset();
  qApp->removeEventFilter(this);
  for (QWidget* W : gaugeWidgets_)
    if (auto* V = static_cast<TViewWidget*>(W)) V->SetControl(nullptr);
  document_.reset();
  editor_.reset();
  if (viewWidget_ != nullptr) viewWidget_->SetControl(nullptr);
}

void TzubForm::BuildMenus() {
  const std::vector<TMenuRow>& Rows = MenuRows();
  auto IsParent = [&Rows](const char* Name) {
    for (const TMenuRow& R : Rows)
      if (std::string(R.Parent) == Name) return true;
    return false;
  };
  for (const TMenuRow& R : Rows) {
    const std::string Parent = R.Parent;
    QMenu* Into = SubMenu(Parent);
    if (std::string(R.Name) == "-") {
      if (Into != nullptr) Into->addSeparator();
      continue;
    }
    QAction* Item = nullptr;
    const QString Caption = QString::fromUtf8(R.Caption);
    if (IsParent(R.Name)) {
      QMenu* M = Parent == "#" ? new QMenu(this)
                 : Parent.empty() ? menuBar()->addMenu(Caption)
                                  : Into->addMenu(Caption);
      M->setObjectName(R.Name);
      menus_.emplace_back(R.Name, M);
      Item = M->menuAction();
      Item->setData(R.Tag);
      // A submenu's own handler prepares its items; nothing runs for a
      // submenu that merely carries a tag.
      auto Click = R.Click != nullptr ? R.Click : R.Hook != nullptr ? &TzubForm::HookClick : nullptr;
      if (Click != nullptr) {
        connect(M, &QMenu::aboutToShow, this, [this, Click, Item] {
          (this->*Click)(Item);
          DisableUnsetHooks();
        });
      }
    } else {
      Item = Into != nullptr ? Into->addAction(Caption) : menuBar()->addAction(Caption);
      if (*R.Shortcut != '\0') {
        Item->setShortcut(QKeySequence(QString::fromUtf8(R.Shortcut)));
        // Shortcuts work while the menu bar is closed.
        addAction(Item);
      }
      Item->setData(R.Tag);
      auto Click = R.Click != nullptr  ? R.Click
                   : R.Hook != nullptr ? &TzubForm::HookClick
                   : R.Tag != 0        ? &TzubForm::MenuActionClick
                                       : nullptr;
      if (Click != nullptr)
        connect(Item, &QAction::triggered, this, [this, Click, Item] {
          if (Reachable(Item)) (this->*Click)(Item);
        });
      if (R.Hook != nullptr) Item->setEnabled(false);
    }
    Item->setObjectName(R.Name);
    items_.emplace_back(R.Name, Item);
  }
  // The template items show nothing until filled.
  for (const char* N : {"OpenRecentFile1", "RecentFiles1", "Window1", "Layer1", "library1"})
    MenuItem(N)->setVisible(false);
  auto Checkable = [this](std::initializer_list<const char*> Names, bool Exclusive) {
    auto* Group = Exclusive ? new QActionGroup(this) : nullptr;
    for (const char* N : Names) {
      MenuItem(N)->setCheckable(true);
      if (Group != nullptr) Group->addAction(MenuItem(N));
    }
  };
  Checkable({"Fine1", "Normal1", "Basic1", "Poor1", "Troll1"}, true);
  Checkable({"Nearest1", "Draft1", "Linear1", "Cosine1", "Spline1", "Lanczos1", "Mitchell1", "Cubic1"}, true);
  Checkable({"Default1", "N301", "N201", "N151", "N102", "N51"}, true);
  Checkable({"GrayScale1", "Color1"}, true);
  Checkable({"N101", "N202", "N501", "N1001"}, false);
  Checkable({"Dither1", "CreateBackup1", "ShowPathonTitle1", "StandardToolbar1", "EditToolbar1", "StatusBar2",
             "Histogram1", "Timing1", "TransparentBackground1"},
            false);
  // Each click sets the check from the state it changed, not Qt's toggle.
  for (const char* N : {"Dither1", "CreateBackup1", "ShowPathonTitle1", "StandardToolbar1", "EditToolbar1",
                        "StatusBar2", "Histogram1", "Timing1", "TransparentBackground1", "N101", "N202", "N501",
                        "N1001"})
    connect(MenuItem(N), &QAction::triggered, this, [this] { RefreshMenuState(); });
  for (const char* N : {"Image1", "Colors1", "Layers1"}) MenuItem(N)->setVisible(false);
}

void TzubForm::BuildStatusBar() {
  const int Widths[3] = {400, 300, 30};
  for (size_t i = 0; i < panels_.size(); ++i) {
    panels_[i] = new QLabel(this);
    panels_[i]->setObjectName(QString("StatusPanel%1").arg(i));
    panels_[i]->setFixedWidth(Widths[i]);
    statusBar()->addWidget(panels_[i], i == 0 ? 1 : 0);
  }
  // Panel 0 follows the window's width and yields to it: its text is clipped
  // rather than holding the window wide.
  panels_[0]->setMinimumWidth(0);
  panels_[0]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  // The view's own grip stands in the corner.
  statusBar()->setSizeGripEnabled(false);
}

void TzubForm::BuildToolBars() {
  toolBar2_ = addToolBar("Standard");
  toolBar2_->setObjectName("ToolBar2");
  toolBar2_->hide();
  toolBar1_ = addToolBar("Edit");
  toolBar1_->setObjectName("ToolBar1");
  // The bar's groups sit in one strip that wraps at its two separators.
  strip_ = new QWidget(toolBar1_);
  stripLayout_ = new QVBoxLayout(strip_);
  stripLayout_->setContentsMargins(0, 0, 0, 0);
  stripLayout_->setSpacing(2);
  auto* ToolGroup = new QWidget(strip_);
  auto* ToolRow = new QHBoxLayout(ToolGroup);
  ToolRow->setContentsMargins(0, 0, 0, 0);
  ToolRow->setSpacing(0);
  auto* Tools = new QButtonGroup(this);
  Tools->setExclusive(true);
  const char* Hints[8] = {"Selection", "Brush", "Dropper", "Text", "Retouch", "Draw", "Fill", "Replace"};
  for (int i = 0; i < 8; ++i) {
    auto* B = new QToolButton(ToolGroup);
    B->setObjectName(QString("ToolButton%1").arg(i + 1));
    B->setText(Hints[i]);
    B->setToolTip(Hints[i]);
    B->setCheckable(true);
    Tools->addButton(B, i);
    ToolRow->addWidget(B);
    tools_[static_cast<size_t>(i)] = B;
    connect(B, &QToolButton::clicked, this, [this, i] { editor_->SetTool(i + 1); });
  }
  tools_[0]->setChecked(true);
  auto Separator = [this](const char* Name) {
    auto* F = new QFrame(strip_);
    F->setObjectName(Name);
    F->setFrameShape(QFrame::VLine);
    F->setFrameShadow(QFrame::Sunken);
    F->setFixedSize(6, 28);
    return F;
  };
  toolButton9_ = Separator("ToolButton9");
  auto* Panel2 = new QWidget(strip_);
  panel2_ = Panel2;
  Panel2->setMouseTracking(true);
  Panel2->setObjectName("Panel2");
  auto* Colors = new QHBoxLayout(Panel2);
  Colors->setContentsMargins(2, 0, 2, 0);
  Colors->setSpacing(2);
  const char* BoxHints[3] = {"Foreground Color - Left Mouse Button", "Background Color - Right Mouse Button",
                             "Extra Color - Middle Mouse Button"};
  const char* BoxNames[3] = {"PaintBox2", "PaintBox1", "PaintBox3"};
  for (size_t i = 0; i < 3; ++i) {
    auto* Box = new TColorBox(Panel2);
    Box->setObjectName(BoxNames[i]);
    Box->setToolTip(BoxHints[i]);
    Box->setFixedSize(20, 20);
    Box->Color = swatches_[i];
    Box->setMouseTracking(true);
    Box->OnClick = [this, i] { mouseTools_->PaintBox1Click(static_cast<TSwatch>(i)); };
    colorBoxes_[i] = Box;
    Colors->addWidget(Box);
  }
  auto* Labels = new QVBoxLayout;
  Labels->setSpacing(0);
  for (size_t i = 0; i < 2; ++i) {
    colorLabels_[i] = new QLabel(Panel2);
    colorLabels_[i]->setObjectName(i == 0 ? "Label3" : "Label2");
    Labels->addWidget(colorLabels_[i]);
  }
  Colors->addLayout(Labels);
  palette_ = new TPaletteBox(Panel2);
  palette_->setObjectName("Image322");
  palette_->setToolTip("Select a color");
  // The foreground box previews the colour under the mouse and shows its
  // own colour again when the mouse leaves the palette.
  palette_->OnHoverColor = [this](bool Inside, TColor32 C) {
    colorBoxes_[0]->Color = Inside ? (C | 0xFF000000u) : swatches_[0];
    colorBoxes_[0]->update();
  };
  palette_->OnPick = [this](TMouseButton Button, TColor32 C) {
    const TSwatch S = Button == mbRight    ? TSwatch::Background
                      : Button == mbMiddle ? TSwatch::Extra
                                           : TSwatch::Foreground;
    SetSwatchColor(S, C | 0xFF000000u);
    if (OnPalettePick) OnPalettePick(Button);
  };
  Colors->addWidget(palette_);
  toolButton10_ = Separator("ToolButton10");
  auto* Panel1 = new QWidget(strip_);
  Panel1->setObjectName("Panel1");
  auto* Gauges = new QGridLayout(Panel1);
  Gauges->setContentsMargins(2, 0, 2, 0);
  Gauges->setSpacing(1);
  struct TGaugeSpec {
    const char* Name;
    const char* Label;
    const char* Hint;
    int32_t Min, Max, Start;
  };
  const TGaugeSpec Specs[3] = {{"GaugeBar1", "Alpha:", "Transparency - Alpha level", 0, 255, 255},
                               {"GaugeBar2", "Size:", "Tool size", 1, 64, 1},
                               {"GaugeBar3", "Density:", "Tool density/hardness", 1, 255, 64}};
  for (size_t i = 0; i < 3; ++i) {
    auto Bar = std::make_unique<TGaugeBar>();
    Bar->SetKind(sbHorizontal);
    Bar->SetBorderStyle(bsNone);
    Bar->SetButtonSize(12);
    Bar->SetMax(Specs[i].Max);
    Bar->SetMin(Specs[i].Min);
    Bar->SetPosition(Specs[i].Start);
    auto* W = new TViewWidget(Panel1);
    W->setObjectName(Specs[i].Name);
    W->setToolTip(Specs[i].Hint);
    W->setFixedSize(96, 14);
    W->SetControl(Bar.get());
    const TGauge G = static_cast<TGauge>(i + 1);
    Bar->OnChange = [this, G](void*) { GaugeChanged(G); };
    gaugeLabels_[i] = new QLabel(Specs[i].Label, Panel1);
    gaugeLabels_[i]->setObjectName(QString("Label%1").arg(i + 4));
    Gauges->addWidget(gaugeLabels_[i], static_cast<int>(i) % 2, static_cast<int>(i / 2) * 2);
    Gauges->addWidget(W, static_cast<int>(i) % 2, static_cast<int>(i / 2) * 2 + 1);
    gaugeWidgets_[i] = W;
    gaugeBars_[i] = std::move(Bar);
  }
  comboBox1_ = new QComboBox(Panel1);
  comboBox1_->setObjectName("ComboBox1");
  comboBox1_->setToolTip("Retouch effect");
  const std::pair<const char*, int32_t> Effects[15] = {
      {"Grey", -700},     {"Blur", 100},      {"Soft", 104},      {"Enhance", 200},   {"Sharp", 300},
      {"Stretch", 801},   {"Compress", 811},  {"Tint", 851},      {"Light(B)", 861},  {"Dark(B)", 862},
      {"Light(C)", 863},  {"Dark(C)", 864},   {"Light(G)", 865},  {"Dark(G)", 866},   {"Custom", 399}};
  for (const auto& [Name, Tag] : Effects) comboBox1_->addItem(Name, Tag);
  Gauges->addWidget(new QLabel("Effect:", Panel1), 1, 2);
  Gauges->addWidget(comboBox1_, 1, 3);
  stripGroups_ = {ToolGroup, toolButton9_, Panel2, toolButton10_, Panel1};
  toolBar1_->addWidget(strip_);
  WrapToolBar1(width());
}

void TzubForm::WrapToolBar1(int32_t WindowWidth) {
  // A narrow window puts the colours (below 680 pixels) and the gauges
  // (below 480) on rows of their own. The tool buttons show words, which
  // take more room than pictures would: when a row would not fit the window,
  // its separator wraps sooner, so the bar never cuts a control off nor holds
  // the window wider than the user made it.
  const int32_t Spacing = stripLayout_->spacing();
  auto Need = [](const QWidget* W) { return std::max(W->sizeHint().width(), W->minimumWidth()); };
  auto RowWidth = [&](size_t From, size_t To) {
    int32_t Sum = -Spacing;
    for (size_t i = From; i <= To; ++i) Sum += Need(stripGroups_[i]) + Spacing;
    return Sum;
  };
  toolBar1_->layout()->invalidate();
  const int32_t Room = WindowWidth - (toolBar1_->sizeHint().width() - strip_->sizeHint().width());
  const bool Wrap9 = WindowWidth < 680 || RowWidth(0, 4) > Room;
  const bool Wrap10 = WindowWidth < 480 || (Wrap9 && RowWidth(2, 4) > Room);
  // The bar asks only for what its widest group needs, however it is wrapped
  // now: the window can then be made narrower, and the next resize wraps it.
  int32_t Widest = 0;
  for (const QWidget* W : stripGroups_) Widest = std::max(Widest, Need(W));
  strip_->setMinimumWidth(Widest);
  const int32_t Rows = 1 + int32_t{Wrap9} + int32_t{Wrap10};
  if (Rows == toolBar1Rows_ && stripLayout_->count() > 0) return;
  // Each row has a layout of its own, so a wide row does not widen the others.
  while (QLayoutItem* Old = stripLayout_->takeAt(0)) delete Old;
  auto NewRow = [&] {
    auto* Row = new QHBoxLayout;
    Row->setSpacing(Spacing);
    stripLayout_->addLayout(Row);
    return Row;
  };
  QHBoxLayout* Row = NewRow();
  toolBar1Rows_ = Rows;
  for (QWidget* W : stripGroups_) {
    const bool Wraps = (W == toolButton9_ && Wrap9) || (W == toolButton10_ && Wrap10);
    // A separator that wraps the bar is not drawn.
    W->setVisible(!Wraps);
    if (Wraps) {
      Row->addStretch();
      Row = NewRow();
    } else {
      Row->addWidget(W, 0, Qt::AlignVCenter);
    }
  }
  Row->addStretch();
}

QAction* TzubForm::MenuItem(const std::string& Name) const {
  for (const auto& [N, A] : items_)
    if (N == Name) return A;
  return nullptr;
}

QMenu* TzubForm::SubMenu(const std::string& Name) const {
  for (const auto& [N, M] : menus_)
    if (N == Name) return M;
  return nullptr;
}

QString TzubForm::PictureFilter() {
  QString All, Each;
  for (const TPictureFormat& F : RegisteredFileFormats()) {
    const QString Pattern = "*." + QString::fromStdString(F.Extension);
    All += (All.isEmpty() ? "" : " ") + Pattern;
    Each += ";;" + QString::fromStdString(F.Description) + " (" + Pattern + ")";
  }
  return "All (" + All + ")" + Each + ";;All files (*)";
}

// ---- Settings --------------------------------------------------------------------------

TAppSettings TzubForm::CollectSettings() const {
  TAppSettings S = kept_;
  // The place kept is the inside's, as the size is and as the start gives it
  // back: the frame's corner, restored as the inside's, would come back
  // higher and further left by the title bar and border at every start.
  const QRect Inside = geometry();
  S.Left = Inside.x();
  S.Top = Inside.y();
  S.Width = Inside.width();
  S.Height = Inside.height();
  S.JpegQuality = document_->gJpegQuality;
  S.J2kQuality = document_->gJ2kQuality;
  S.J2kFormat = document_->gJ2kFormat;
  S.GifDither = document_->gGifDither;
  S.CreateBackup = document_->gCreateBackup;
  S.ShowPath = editor_->gShowPathOnTitle;
  S.Color = ToPlatformColor(swatches_[static_cast<size_t>(TSwatch::Foreground)]);
  S.Background = ToPlatformColor(swatches_[static_cast<size_t>(TSwatch::Background)]);
  S.StretchFilter = StretchFilterIndex(view_->Bitmap()->Resampler());
  S.G1 = gaugeBars_[0]->Position();
  S.G2 = gaugeBars_[1]->Position();
  S.G3 = gaugeBars_[2]->Position();
  S.UserText = mouseTools_->gUserText;
  S.FontName = mouseTools_->gFontName;
  S.FontSize = mouseTools_->gFontSize;
  S.FontStyle = mouseTools_->gFontStyle;
  S.Effect = std::max(comboBox1_->currentIndex(), 0);
  S.EditToolbar = toolBar1_->isVisibleTo(this);
  S.StdToolbar = toolBar2_->isVisibleTo(this);
  S.DrawGrid = gSnapGrid;
  return S;
}

void TzubForm::ApplySettings(const TAppSettings& S) {
  kept_ = S;
  setGeometry(S.Left, S.Top, S.Width, S.Height);
  document_->gJpegQuality = S.JpegQuality;
  document_->gJ2kQuality = S.J2kQuality;
  document_->gJ2kFormat = S.J2kFormat;
  document_->gGifDither = S.GifDither;
  document_->gCreateBackup = S.CreateBackup;
  document_->gBackgroundColor = S.Background;
  editor_->gShowPathOnTitle = S.ShowPath;
  swatches_[static_cast<size_t>(TSwatch::Foreground)] = FromPlatformColor(S.Color);
  swatches_[static_cast<size_t>(TSwatch::Background)] = FromPlatformColor(S.Background);
  gaugeBars_[0]->SetPosition(S.G1);
  gaugeBars_[1]->SetPosition(S.G2);
  gaugeBars_[2]->SetPosition(S.G3);
  mouseTools_->gUserText = S.UserText;
  mouseTools_->gFontName = S.FontName;
  mouseTools_->gFontSize = S.FontSize;
  mouseTools_->gFontStyle = S.FontStyle;
  comboBox1_->setCurrentIndex(S.Effect);
  toolBar1_->setVisible(S.EditToolbar);
  SetToolbarBorders();
  gSnapGrid = S.DrawGrid;
  mouseTools_->gSnapGrid = S.DrawGrid;
  MenuItem("Dither1")->setChecked(S.GifDither);
  for (size_t i = 0; i < 3; ++i) colorBoxes_[i]->Color = swatches_[i];
  UpdateColorLabels();
  SetStretchFilter(view_->Bitmap(), static_cast<uint8_t>(S.StretchFilter));
  UpdateJpegChecks();
  editor_->UpdateCaption();
}

void TzubForm::UpdateJpegChecks() {
  for (const char* N : {"Fine1", "Normal1", "Basic1", "Poor1", "Troll1"})
    MenuItem(N)->setChecked(MenuItem(N)->data().toInt() == document_->gJpegQuality);
}

// ---- Start-up and the other windows ------------------------------------------------------

void TzubForm::HandleArguments(const std::vector<std::string>& Args) {
  for (const std::string& A : Args) {
    if (A == "@") {
      document_->NewFromClipboard();
    } else if (CharacterCount(A) <= 2) {
      continue;  // "@@" (an empty window) and other stray short words
    } else if (A[0] == '@') {
      document_->OpenImageFile(A.substr(1, 999));
    } else {
      document_->OpenImageFile(A);
    }
  }
}

void TzubForm::OpenHandedOver(const std::string& FileName) {
  // A name that leads nowhere is said, as a first start says it: the user
  // who typed it would otherwise wait for a picture that never comes. The
  // picture stays, and nothing is asked about it.
  if (!FileExists(FileName))
    document_->ReportMissing(FileName);
  else if (document_->QuerySaveChanges())
    document_->OpenImageFile(FileName);
}

void TzubForm::DropFiles(const std::vector<std::string>& Names) {
  // What the desktop drops is there; a name that vanished meanwhile is passed over.
  if (Names.size() != 1 || !FileExists(Names[0])) return;
  OpenHandedOver(Names[0]);
}

bool TzubForm::StartInstanceServer() {
  TInstanceServer::THandlers H;
  H.Caption = [this] { return windowTitle().toStdString(); };
  H.OpenFile = [this](const std::string& Name) { OpenHandedOver(Name); };
  H.Activate = [this] { BringToFront(); };
  H.Busy = [] { return QApplication::activeModalWidget() != nullptr; };
  instance_ = new TInstanceServer(std::move(H), this);
  return instance_->Listen();
}

void TzubForm::BringToFront() {
  if (isMinimized()) showNormal();
  raise();
  activateWindow();
}

// ---- Close ---------------------------------------------------------------------------------

bool TzubForm::FormCloseQuery() {
  if (IsPrinting()) {
    MessageBox("still printing ...", MB_ICONWARNING);
    return false;
  }
  return document_->QuerySaveChanges();
}

void TzubForm::Cleanup() {
  if (cleanedUp_) return;
  cleanedUp_ = true;
  // The histogram's worker reads a copy of the pixels, but it must be gone
  // before the window's bitmaps are.
  FreeHistogram();
  if (twain_) twain_->TwainShutdown();
  editor_->gWork.reset();
  editor_->gBuffer.reset();
  editor_->gSelectedLayer = nullptr;
  editor_->gSelection = nullptr;
  // Freeing the stores deletes the checkpoint's temporary file.
  editor_->gImageUndo.reset();
  editor_->gLayerUndo.reset();
  gExifData.reset();
  gHasExif = false;
}

void TzubForm::showEvent(QShowEvent* Event) {
  QMainWindow::showEvent(Event);
  SetToolbarBorders();
  // The restyled buttons can need more room; wrap for their new widths.
  WrapToolBar1(width());
  // The borders restyle the toolbars, which can widen the window's minimum;
  // take that width now, before the window is mapped, or the window would
  // widen (and the picture move) a moment after its first frame.
  if (layout() != nullptr) layout()->activate();
  // A file named on the command line is opened while the window is still
  // hidden and the view has no size to fit it to; fit it once the view has one.
  if (!shownOnce_ && editor_->HasDocument()) {
    view_->SetScale(1.0f);
    editor_->ShowDocument();
  }
  shownOnce_ = true;
}

void TzubForm::resizeEvent(QResizeEvent* Event) {
  QMainWindow::resizeEvent(Event);
  // Only a maximum: a fixed width would make the window's minimum width its
  // current width, and the window could never be made narrower.
  panels_[0]->setMaximumWidth(std::max(width() - 350, 0));
  WrapToolBar1(width());
}

void TzubForm::FitFrameOnScreenOnce() {
  frameFitted_ = true;
  // Only on X11 does the program place its own window inside a window
  // manager's frame; the offscreen platform reports a frame it invents, and
  // under Wayland the compositor places the window.
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return;
  const QRect Inside = geometry();
  const QRect Outer = frameGeometry();
  // Without a window manager's frame the kept place stays as it was read.
  if (Outer == Inside || screen() == nullptr || windowState() != Qt::WindowNoState) return;
  const QRect Area = screen()->availableGeometry();
  const TBounds Was{Inside.x(), Inside.y(), Inside.width(), Inside.height()};
  const TBounds Fit = FitFrameOnScreen(Was,
                                       {Inside.left() - Outer.left(), Inside.top() - Outer.top(),
                                        Outer.right() - Inside.right(), Outer.bottom() - Inside.bottom()},
                                       {Area.x(), Area.y(), Area.width(), Area.height()});
  if (!(Fit == Was)) setGeometry(Fit.Left, Fit.Top, Fit.Width, Fit.Height);
}

void TzubForm::wheelEvent(QWheelEvent* Event) {
  // What the view left (the wheel over the image, not over a bar) zooms.
  const QPoint d = Event->angleDelta();
  const int32_t Delta = d.y() != 0 ? d.y() : d.x();
  const QPoint P = viewWidget_->mapFrom(this, Event->position().toPoint());
  WheelZoom(Delta, (Event->modifiers() & Qt::ControlModifier) != 0, P.x(), P.y());
  Event->accept();
}

bool TzubForm::FromMe(QObject* Watched) const {
  auto* W = qobject_cast<QWidget*>(Watched);
  if (W == nullptr || W->window() != this) return false;
  // A key travels from the focus widget up to the window: take it once.
  QWidget* Focus = QApplication::focusWidget();
  return Focus != nullptr ? W == Focus : W == this;
}

bool TzubForm::eventFilter(QObject* Watched, QEvent* Event) {
  switch (Event->type()) {
    case QEvent::ShortcutOverride:
      // The override travels up from the focus widget through every parent;
      // the menus are refreshed where it starts and where it reaches the
      // window (a key sent to the window itself starts there), not at each
      // step between: each refresh runs every menu's open handler.
      if (auto* W = qobject_cast<QWidget*>(Watched);
          W != nullptr && W->window() == this && (W == this || W == QApplication::focusWidget()))
        RefreshMenuState();
      break;
    case QEvent::MouseButtonRelease:
      // The engine may have changed the tool (a layer selected, a command
      // run): the toolbar shows the tool in use after each click.
      if (auto* W = qobject_cast<QWidget*>(Watched); W != nullptr && W->window() == this) SyncToolButtons();
      break;
    case QEvent::MouseMove:
      // Moving over the colour panel shows the current colours in its labels.
      if (auto* W = qobject_cast<QWidget*>(Watched); W != nullptr && (W == panel2_ || panel2_->isAncestorOf(W)))
        UpdateColorLabels();
      break;
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
      if (FromMe(Watched)) {
        auto* K = static_cast<QKeyEvent*>(Event);
        PreviewKey(K->key(), K->modifiers(), Event->type() == QEvent::KeyPress, K->isAutoRepeat());
      }
      break;
    case QEvent::Expose:
      // The window manager has framed the window before it shows it, so the
      // frame is known at the first expose: the kept place may have put the
      // title bar or a border off the screen. Later, a window the user moves
      // off the screen stays where it is put.
      if (!frameFitted_ && Watched == windowHandle() && windowHandle()->isExposed()) FitFrameOnScreenOnce();
      break;
    default:
      break;
  }
  return QMainWindow::eventFilter(Watched, Event);
}

bool TzubForm::PreviewKey(int Key, Qt::KeyboardModifiers Mods, bool Press, bool AutoRepeat) {
  const int32_t Tool = editor_->gCurrentTool;
  if (Key == Qt::Key_Control && Press) {
    std::string T;
    if (Tool == 2)
      T = "Ctrl+Click to select a brush type: color, pattern, clone or undo. ";
    else if (Tool != 4 && Tool != 6)
      T = "Ctrl+Click to select a color. ";
    SetStatusText(0, T + "Ctrl+Wheel to Zoom In/Out on a point.");
    return true;
  }
  if (Press || AutoRepeat) return false;
  if (Key == Qt::Key_Control && (Mods & (Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier)) == 0) {
    SetStatusText(0, std::string(Tool == 3 ? "Left, middle or right click to select a color. " : "") +
                         "Rotate Wheel Up/Down to Zoom In/Out (centered).");
    return true;
  }
  if (Key == Qt::Key_Space) {
    SelectTool(1);
    return true;
  }
  QScreen* Screen = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
  const int32_t Step = (Screen != nullptr ? Screen->geometry().width() : 0) / 10;
  float Dx = 0, Dy = 0;
  switch (Key) {
    case Qt::Key_Left: Dx = static_cast<float>(-Step); break;
    case Qt::Key_Right: Dx = static_cast<float>(Step); break;
    case Qt::Key_Up: Dy = static_cast<float>(-Step); break;
    case Qt::Key_Down: Dy = static_cast<float>(Step); break;
    default: return false;
  }
  view_->Scroll(Dx, Dy);
  PlaceSelectionFrame();
  return true;
}

void TzubForm::SelectTool(int32_t Tool) {
  editor_->SetTool(Tool);
  SyncToolButtons();
}

void TzubForm::SyncToolButtons() {
  const int32_t Tool = editor_->gCurrentTool;
  if (Tool >= 1 && Tool <= 8 && !tools_[static_cast<size_t>(Tool - 1)]->isChecked())
    tools_[static_cast<size_t>(Tool - 1)]->setChecked(true);
}

bool TzubForm::IsPrinting() const { return Printing || (printing_ && printing_->Printing()); }

void TzubForm::closeEvent(QCloseEvent* Event) {
  if (!cleanedUp_ && !FormCloseQuery()) {
    Event->ignore();
    return;
  }
  Cleanup();
  Event->accept();
  if (OnFormClosed) OnFormClosed();
}

void TzubForm::dragEnterEvent(QDragEnterEvent* Event) {
  if (Event->mimeData()->hasUrls()) Event->acceptProposedAction();
}

void TzubForm::dropEvent(QDropEvent* Event) {
  std::vector<std::string> Names;
  for (const QUrl& U : Event->mimeData()->urls()) Names.push_back(U.toLocalFile().toStdString());
  Event->acceptProposedAction();
  DropFiles(Names);
}

// ---- Menu handlers ---------------------------------------------------------------------------

void TzubForm::New1Click(QAction*) {
  if (!document_->CloseImage()) return;
  TResizeValues Size;
  Size.Width = 800;
  Size.Height = 600;
  if (!RunResizeDialog("New...", 2, false, Size)) return;
  document_->gBackgroundColor = ToPlatformColor(swatches_[static_cast<size_t>(TSwatch::Background)]);
  document_->NewImage(Size.Width, Size.Height);
}

void TzubForm::NewWindow1Click(QAction*) { RunSelf("@@"); }

void TzubForm::OpenFile1Click(QAction*) {
  if (!document_->QuerySaveChanges()) return;
  const QString Name = QFileDialog::getOpenFileName(this, "Open", QString::fromStdString(document_->SaveFolder),
                                                    PictureFilter());
  if (!Name.isEmpty()) document_->OpenImageFile(Name.toStdString());
}

void TzubForm::OpeninNewWindow1Click(QAction*) {
  const QString Name = QFileDialog::getOpenFileName(this, "Open in New Window",
                                                    QString::fromStdString(document_->SaveFolder), PictureFilter());
  if (!Name.isEmpty()) RunSelf("@" + Name.toStdString());
}

void TzubForm::OpenRecentFile1Click(QAction* Item) {
  if (Item == nullptr || !document_->QuerySaveChanges()) return;
  document_->OpenImageFile(StripHotkeys(Item->text().toStdString()));
}

void TzubForm::Revert1Click(QAction*) { document_->Revert(); }

void TzubForm::Save1Click(QAction*) {
  if (!document_->Save()) {
    if (!document_->HasFile()) SaveAs1Click(nullptr);
  }
}

void TzubForm::SaveAs(const std::string& FileName) {
  document_->SaveImageFile(FileName);
  editor_->UpdateCaption();
  editor_->gLastActionTag = 0;
}

void TzubForm::SaveAs1Click(QAction*) {
  if (!editor_->HasDocument()) return;
  QFileDialog D(this, "Save As", QString::fromStdString(document_->SaveFolder), PictureFilter());
  D.setAcceptMode(QFileDialog::AcceptSave);
  // The document's own question comes after the name is complete.
  D.setOption(QFileDialog::DontConfirmOverwrite, true);
  if (D.exec() != QDialog::Accepted || D.selectedFiles().isEmpty()) return;
  SaveAs(D.selectedFiles().first().toStdString());
}

void TzubForm::Close1Click(QAction*) { document_->CloseImage(); }

void TzubForm::SetJPEGQuality(QAction* Item) {
  document_->gJpegQuality = Item->data().toInt();
  UpdateJpegChecks();
}

void TzubForm::Windows1Click(QAction*) {
  // Each window is known by its process id, the handle of the list.
  std::vector<TPeer> Peers = FindPeers();
  std::sort(Peers.begin(), Peers.end(), [](const TPeer& A, const TPeer& B) { return A.Pid > B.Pid; });
  QMenu* Menu = SubMenu("Windows1");
  const int64_t Self = getpid();
  size_t i = 0;
  for (const TPeer& P : Peers) {
    std::string Caption;
    if (P.Pid == Self)
      Caption = windowTitle().toStdString();
    else if (!QueryCaption(P.Path, Caption))
      continue;
    QAction* Item = ListItem(Menu, i, &TzubForm::Window1Click);
    Item->setData(static_cast<qlonglong>(P.Pid));
    Item->setText(QString::fromStdString(Caption));
    Item->setVisible(CharacterCount(Caption) >= 5);
    Item->setShortcut(i <= 9 ? QKeySequence("Ctrl+" + QString::number(i)) : QKeySequence());
    ++i;
  }
  // Entries left from a longer list name windows that have gone.
  const QList<QAction*> Items = Menu->actions();
  for (qsizetype k = static_cast<qsizetype>(i); k < Items.size(); ++k) {
    Items.at(k)->setVisible(false);
    Items.at(k)->setData(0);
  }
}

QAction* TzubForm::ListItem(QMenu* Menu, size_t Index, void (TzubForm::*Click)(QAction*)) {
  const QList<QAction*> Items = Menu->actions();
  if (Index < static_cast<size_t>(Items.size())) return Items.at(static_cast<qsizetype>(Index));
  QAction* Item = Menu->addAction(QString());
  connect(Item, &QAction::triggered, this, [this, Click, Item] {
    if (Reachable(Item)) (this->*Click)(Item);
  });
  return Item;
}

void TzubForm::Window1Click(QAction* Item) {
  const int64_t Pid = Item != nullptr ? Item->data().toLongLong() : 0;
  if (Pid == 0) {
    Beep();
  } else if (Pid == getpid()) {
    BringToFront();
  } else {
    SendActivate(InstanceSocketPath(Pid));
  }
}

void TzubForm::Exit1Click(QAction*) { close(); }

void TzubForm::PasteIntoNewWindow1Click(QAction*) { RunSelf("@"); }

void TzubForm::About1Click(QAction*) { ShowAboutBox(this); }

// ---- EditorUi ------------------------------------------------------------------------------

void TzubForm::SetCaption(const std::string& Caption) { setWindowTitle(QString::fromStdString(Caption)); }

void TzubForm::SetScreenCursor(TCursor Cursor) {
  if (Cursor == crHourGlass) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ++busyCursors_;
  } else {
    for (; busyCursors_ > 0; --busyCursors_) QApplication::restoreOverrideCursor();
  }
}

uint32_t TzubForm::TickCount() {
  static QElapsedTimer Clock = [] {
    QElapsedTimer T;
    T.start();
    return T;
  }();
  return static_cast<uint32_t>(Clock.elapsed());
}

void TzubForm::Beep() { QApplication::beep(); }

int TzubForm::MessageBox(const std::string& Text, uint32_t Flags) { return ShowMessageBox(Text, Flags); }

void TzubForm::ExceptionBox(const std::exception& E, const std::string& Place) { ShowExceptionBox(E, Place); }

int32_t TzubForm::GaugePosition(TGauge Gauge) { return GaugeBar(Gauge).Position(); }

void TzubForm::SetGaugePosition(TGauge Gauge, int32_t Position) { GaugeBar(Gauge).SetPosition(Position); }

void TzubForm::SetGaugeEnabled(TGauge Gauge, bool Enabled) { GaugeWidget(Gauge)->setEnabled(Enabled); }

TColor32 TzubForm::SwatchColor(TSwatch Swatch) { return swatches_[static_cast<size_t>(Swatch)]; }

void TzubForm::SetSwatchColor(TSwatch Swatch, TColor32 Color) {
  const size_t i = static_cast<size_t>(Swatch);
  swatches_[i] = Color;
  // The PNG writer's transparent colour is the background box's of the moment.
  if (Swatch == TSwatch::Background) document_->gBackgroundColor = ToPlatformColor(Color);
  colorBoxes_[i]->Color = Color;
  colorBoxes_[i]->update();
  UpdateColorLabels();
}

QLabel* TzubForm::ColorLabelOf(TSwatch Swatch) const {
  return Swatch == TSwatch::Foreground ? colorLabels_[0] : Swatch == TSwatch::Background ? colorLabels_[1] : nullptr;
}

void TzubForm::UpdateColorLabels() {
  colorLabels_[0]->setText(QString::fromStdString(ColorLabel(swatches_[0])));
  colorLabels_[1]->setText(QString::fromStdString(ColorLabel(swatches_[1])));
}

int32_t TzubForm::RetouchEffectTag() const { return comboBox1_->currentData().toInt(); }

void TzubForm::GaugeChanged(TGauge Gauge) {
  if (Gauge == TGauge::Alpha) {
    GaugeBar1Change(*editor_);
    return;
  }
  GaugeWidget(Gauge)->setToolTip(QString::number(GaugeBar(Gauge).Position()));
  if (BuildBrushMask) BuildBrushMask();
}

void TzubForm::SetStatusText(int32_t Panel, const std::string& Text) {
  if (Panel >= 0 && Panel < static_cast<int32_t>(panels_.size()))
    panels_[static_cast<size_t>(Panel)]->setText(QString::fromStdString(Text));
}

// Whether the user shows it, also while the window itself is hidden.
bool TzubForm::StatusBarVisible() { return statusBar()->isVisibleTo(this); }

QAction* TzubForm::EngineItem(const std::string& Name) {
  QAction* A = MenuItem(Name);
  if (A == nullptr) NoSuchItem(Name);
  return A;
}

void TzubForm::NoSuchItem(const std::string& Name) {
  // The call itself can only do nothing, so a name the engine and the window
  // spell differently would pass unseen.
  unknownMenuNames_.push_back(Name);
  std::fprintf(stderr, "vemra: the window has no menu item named \"%s\"\n", Name.c_str());
}

void TzubForm::SetMenuVisible(const std::string& Item, bool Visible) {
  if (QAction* A = EngineItem(Item)) A->setVisible(Visible);
}

bool TzubForm::MenuChecked(const std::string& Item) {
  QAction* A = EngineItem(Item);
  return A != nullptr && A->isChecked();
}

void TzubForm::SetMenuEnabled(const std::string& Item, bool Enabled) {
  if (QAction* A = EngineItem(Item)) A->setEnabled(Enabled);
}

void TzubForm::SetLayerListItems(const std::vector<TLayerListItem>& Items) {
  QMenu* Menu = SubMenu("Layers2");
  for (size_t i = 0; i < Items.size(); ++i) {
    QAction* A = ListItem(Menu, i, &TzubForm::Layer1Click);
    A->setText(QString::fromStdString(Items[i].Caption));
    A->setData(Items[i].Tag);
    A->setVisible(true);
  }
  const QList<QAction*> Actions = Menu->actions();
  for (qsizetype k = static_cast<qsizetype>(Items.size()); k < Actions.size(); ++k) Actions.at(k)->setVisible(false);
}

void TzubForm::Popup(const std::string& Menu, int32_t X, int32_t Y) {
  QMenu* M = SubMenu(Menu);
  if (M == nullptr) {
    NoSuchItem(Menu);
    return;
  }
  // Fill and Replace share the popup; each shows only the modes it has.
  if (Menu == "PopupMenu3")
    for (QAction* A : M->actions()) A->setVisible(FillModeApplies(editor_->gCurrentTool, A->data().toInt()));
  // The popup takes the release of the press that opens it: the press ends
  // here, before the tool or a layer could act on a release that comes late.
  viewWidget_->ReleaseHeldButtons();
  M->popup(viewWidget_->mapToGlobal(QPoint(X, Y)));
}

void TzubForm::PressToolButton(int32_t Tool) {
  if (Tool >= 1 && Tool <= 8) tools_[static_cast<size_t>(Tool - 1)]->setChecked(true);
}

void TzubForm::SetEffectListEnabled(bool Enabled) { comboBox1_->setEnabled(Enabled); }
int32_t TzubForm::EffectListIndex() { return comboBox1_->currentIndex(); }
void TzubForm::SetEffectListIndex(int32_t Index) { comboBox1_->setCurrentIndex(Index); }

void TzubForm::SetLabel(const std::string& Label, const std::string& Caption, const std::string& Hint) {
  if (auto* L = findChild<QLabel*>(QString::fromStdString(Label))) {
    L->setText(QString::fromStdString(Caption));
    L->setToolTip(QString::fromStdString(Hint));
  }
}

void TzubForm::SetMenuCaption(const std::string& Item, const std::string& Caption) {
  if (QAction* A = EngineItem(Item)) A->setText(QString::fromStdString(Caption));
}

void TzubForm::ShowViewHint(const std::string& Text) {
  QToolTip::showText(QCursor::pos(), QString::fromStdString(Text), viewWidget_);
}

void TzubForm::HideViewHint() { QToolTip::hideText(); }

bool TzubForm::ColorDialog(TColor32& Color) {
  const QColor C = QColorDialog::getColor(QColor::fromRgb(Color & 0xFFFFFF), this);
  if (!C.isValid()) return false;
  Color = 0xFF000000u | (static_cast<uint32_t>(C.red()) << 16) | (static_cast<uint32_t>(C.green()) << 8) |
          static_cast<uint32_t>(C.blue());
  return true;
}

// The dialogs are made on first use and kept; the window only hands them its
// place on screen.
bool TzubForm::RunParamDialog(const TParamDialogSetup& Setup, TParamValues& Values) {
  return ::RunParamDialog(this, Setup, Values);
}

bool TzubForm::RunResizeDialog(const std::string& Caption, int32_t Mode, bool KeepAspect, TResizeValues& Values) {
  return ::RunResizeDialog(this, Caption, Mode, KeepAspect, Values);
}

bool TzubForm::TextDialog(TTextDialogData& Data) { return ::TextDialog(this, Data); }

bool TzubForm::HistogramExists() { return ::HistogramExists(); }
void TzubForm::CreateHistogram() {
  ::CreateHistogram(this, [this]() -> const TBitmap32* { return view_->Bitmap(); });
}
bool TzubForm::HistogramVisible() { return ::HistogramVisible(); }
void TzubForm::ShowHistogram() { ::ShowHistogram(); }
void TzubForm::HideHistogram() { ::HideHistogram(); }
void TzubForm::RepaintHistogram() { ::RepaintHistogram(); }

bool TzubForm::InputQuery(const std::string& Caption, const std::string& Prompt, std::string& Value) {
  bool Ok = false;
  const QString V = QInputDialog::getText(this, QString::fromStdString(Caption), QString::fromStdString(Prompt),
                                          QLineEdit::Normal, QString::fromStdString(Value), &Ok);
  if (Ok) Value = V.toStdString();
  return Ok;
}

QWidget* TzubForm::Palette() const { return palette_; }
