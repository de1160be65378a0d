// The main window: view, menus from the table, status bar, document commands,
// the window list and the receiving side of the hand-over.
#include "zub_main.h"

#include "zub_actions.h"
#include "zub_tools.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QCursor>
#include <QToolTip>

#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFormLayout>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QSpinBox>
#include <QStatusBar>
#include <QUrl>

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

// The menu tree. Later menus (Edit, Image, Colors, Layers, View, ...) add
// their rows here; a row's position is its place in its menu.
const TMenuRow kMenuRows[] = {
    {"File1", "", "&File", "", 0, nullptr},
    {"New1", "File1", "&New...", "Ctrl+N", 0, &TzubForm::New1Click},
    {"NewWindow1", "File1", "New &Window", "Ctrl+Shift+N", 0, &TzubForm::NewWindow1Click},
    {"OpenFile1", "File1", "&Open...", "Ctrl+O", 0, &TzubForm::OpenFile1Click},
    {"OpenInNewWindow1", "File1", "Open in New W&indow...", "", 0, &TzubForm::OpenInNewWindow1Click},
    {"RecentFiles1", "File1", "Recent &Files", "", 0, nullptr},
    {"OpenRecentFile1", "RecentFiles1", "", "", 0, &TzubForm::OpenRecentFile1Click},
    {"Revert1", "File1", "&Revert", "", 0, &TzubForm::Revert1Click},
    {"-", "File1", "", "", 0, nullptr},
    {"Save1", "File1", "&Save", "Ctrl+S", 0, &TzubForm::Save1Click},
    {"SaveAs1", "File1", "Save &As...", "Ctrl+Shift+S", 0, &TzubForm::SaveAs1Click},
    {"JPEG1", "File1", "&JPEG Quality", "", 0, nullptr},
    {"Fine1", "JPEG1", "Fine (100)", "", 100, &TzubForm::SetJPEGQuality},
    {"Normal1", "JPEG1", "Normal (94)", "", 94, &TzubForm::SetJPEGQuality},
    {"Basic1", "JPEG1", "Basic (80)", "", 80, &TzubForm::SetJPEGQuality},
    {"Poor1", "JPEG1", "Poor (50)", "", 50, &TzubForm::SetJPEGQuality},
    {"Troll1", "JPEG1", "Troll (25)", "", 25, &TzubForm::SetJPEGQuality},
    {"Close1", "File1", "&Close", "Ctrl+W", 0, &TzubForm::Close1Click},
    {"-", "File1", "", "", 0, nullptr},
    {"Windows1", "File1", "Win&dows", "", 0, nullptr},
    {"Window1", "Windows1", "", "", 0, &TzubForm::Window1Click},
    {"-", "File1", "", "", 0, nullptr},
    {"Exit1", "File1", "E&xit", "Ctrl+Q", 0, &TzubForm::Exit1Click},
    {"Edit1", "", "&Edit", "", 0, nullptr},
    {"PasteIntoNewWindow1", "Edit1", "Paste Into New &Window", "", 0, &TzubForm::PasteIntoNewWindow1Click},
    {"Help1", "", "&Help", "", 0, nullptr},
    {"About1", "Help1", "&About...", "F1", 0, &TzubForm::About1Click},
};

bool IsParent(const char* Name) {
  for (const TMenuRow& R : kMenuRows)
    if (std::string(R.Parent) == Name) return true;
  return false;
}

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

  editor_ = std::make_unique<TEditor>(*view_, *this);
  document_ = std::make_unique<TZubDocument>(*editor_);
  actions_ = std::make_unique<TEditorActions>(*editor_);
  tools_ = std::make_unique<TMouseTools>(*editor_);

  for (QLabel*& P : panels_) {
    P = new QLabel(this);
    statusBar()->addWidget(P, 1);
  }

  BuildMenus();
  recentMenu_ = std::make_unique<TQtMruMenu>(*this, SubMenu("RecentFiles1"), MenuItem("RecentFiles1"));
  recent_ = std::make_unique<TMRU>(recentMenu_.get());
  document_->Recent = recent_.get();
  editor_->SetTool(1);
  editor_->gLastActionTag = 0;
  editor_->UpdateCaption();
  UpdateJpegChecks();
}

TzubForm::~TzubForm() {
  tools_.reset();
  actions_.reset();
  document_.reset();
  editor_.reset();
  if (viewWidget_ != nullptr) viewWidget_->SetControl(nullptr);
}

void TzubForm::BuildMenus() {
  for (const TMenuRow& R : kMenuRows) {
    const std::string Parent = R.Parent;
    QMenu* Into = SubMenu(Parent);
    if (std::string(R.Name) == "-") {
      if (Into != nullptr) Into->addSeparator();
      continue;
    }
    QAction* Item = nullptr;
    if (IsParent(R.Name)) {
      QMenu* M = Parent.empty() ? menuBar()->addMenu(QString::fromUtf8(R.Caption))
                                : Into->addMenu(QString::fromUtf8(R.Caption));
      M->setObjectName(R.Name);
      menus_.emplace_back(R.Name, M);
      Item = M->menuAction();
    } else {
      Item = Into != nullptr ? Into->addAction(QString::fromUtf8(R.Caption))
                             : menuBar()->addAction(QString::fromUtf8(R.Caption));
      if (*R.Shortcut != '\0') Item->setShortcut(QKeySequence(QString::fromUtf8(R.Shortcut)));
      Item->setData(R.Tag);
      if (R.Click != nullptr) {
        auto Click = R.Click;
        connect(Item, &QAction::triggered, this, [this, Click, Item] { (this->*Click)(Item); });
      }
    }
    Item->setObjectName(R.Name);
    items_.emplace_back(R.Name, Item);
  }
  // The template items show nothing until filled.
  MenuItem("OpenRecentFile1")->setVisible(false);
  MenuItem("RecentFiles1")->setVisible(false);
  MenuItem("Window1")->setVisible(false);
  auto* Group = new QActionGroup(this);
  for (const char* N : {"Fine1", "Normal1", "Basic1", "Poor1", "Troll1"}) {
    MenuItem(N)->setCheckable(true);
    Group->addAction(MenuItem(N));
  }
  connect(SubMenu("Windows1"), &QMenu::aboutToShow, this, [this] { Windows1Click(nullptr); });
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
  S.Left = x();
  S.Top = y();
  S.Width = width();
  S.Height = height();
  S.JpegQuality = document_->gJpegQuality;
  S.GifDither = document_->gGifDither;
  S.CreateBackup = document_->gCreateBackup;
  S.ShowPath = editor_->gShowPathOnTitle;
  S.Color = ToPlatformColor(swatches_[static_cast<size_t>(TSwatch::Foreground)]);
  S.Background = ToPlatformColor(swatches_[static_cast<size_t>(TSwatch::Background)]);
  S.StretchFilter = StretchFilterIndex(view_->Bitmap()->Resampler());
  S.G1 = gauges_[0];
  S.G2 = gauges_[1];
  S.G3 = gauges_[2];
  return S;
}

void TzubForm::ApplySettings(const TAppSettings& S) {
  kept_ = S;
  setGeometry(S.Left, S.Top, S.Width, S.Height);
  document_->gJpegQuality = S.JpegQuality;
  document_->gGifDither = S.GifDither;
  document_->gCreateBackup = S.CreateBackup;
  document_->gBackgroundColor = S.Background;
  editor_->gShowPathOnTitle = S.ShowPath;
  swatches_[static_cast<size_t>(TSwatch::Foreground)] = FromPlatformColor(S.Color);
  swatches_[static_cast<size_t>(TSwatch::Background)] = FromPlatformColor(S.Background);
  gauges_ = {S.G1, S.G2, S.G3};
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
  if (FileExists(FileName) && document_->QuerySaveChanges()) document_->OpenImageFile(FileName);
}

void TzubForm::DropFiles(const std::vector<std::string>& Names) {
  if (Names.size() != 1) return;
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
  if (Printing) {
    MessageBox("still printing ...", MB_ICONWARNING);
    return false;
  }
  return document_->QuerySaveChanges();
}

void TzubForm::Cleanup() {
  if (cleanedUp_) return;
  cleanedUp_ = true;
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
  // A file named on the command line is opened while the window is still
  // hidden and the view has no size to fit it to; fit it once the view has one.
  if (!shownOnce_ && editor_->HasDocument()) {
    view_->SetScale(1.0f);
    editor_->ShowDocument();
  }
  shownOnce_ = true;
}

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

namespace {

// OK and Cancel under a form's rows; true when the dialog was closed with OK.
bool RunWithOkCancel(QDialog& D, QFormLayout* Form) {
  auto* Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &D);
  Form->addRow(Buttons);
  QObject::connect(Buttons, &QDialogButtonBox::accepted, &D, &QDialog::accept);
  QObject::connect(Buttons, &QDialogButtonBox::rejected, &D, &QDialog::reject);
  return D.exec() == QDialog::Accepted;
}

}  // namespace

void TzubForm::New1Click(QAction*) {
  if (!document_->CloseImage()) return;
  QDialog D(this);
  D.setWindowTitle("New...");
  auto* Form = new QFormLayout(&D);
  auto* W = new QSpinBox(&D);
  auto* H = new QSpinBox(&D);
  for (QSpinBox* S : {W, H}) S->setRange(1, 32767);
  W->setValue(800);
  H->setValue(600);
  Form->addRow("&Width", W);
  Form->addRow("&Height", H);
  if (!RunWithOkCancel(D, Form)) return;
  document_->gBackgroundColor = ToPlatformColor(swatches_[static_cast<size_t>(TSwatch::Background)]);
  document_->NewImage(W->value(), H->value());
}

void TzubForm::NewWindow1Click(QAction*) { RunSelf("@@"); }

void TzubForm::OpenFile1Click(QAction*) {
  if (!document_->QuerySaveChanges()) return;
  const QString Name = QFileDialog::getOpenFileName(this, "Open", QString::fromStdString(document_->SaveFolder),
                                                    PictureFilter());
  if (!Name.isEmpty()) document_->OpenImageFile(Name.toStdString());
}

void TzubForm::OpenInNewWindow1Click(QAction*) {
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
    QList<QAction*> Items = Menu->actions();
    QAction* Item = nullptr;
    if (i < static_cast<size_t>(Items.size())) {
      Item = Items.at(static_cast<qsizetype>(i));
    } else {
      Item = Menu->addAction(QString());
      connect(Item, &QAction::triggered, this, [this, Item] { Window1Click(Item); });
    }
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

int32_t TzubForm::GaugePosition(TGauge Gauge) { return gauges_[static_cast<size_t>(Gauge) - 1]; }
void TzubForm::SetGaugePosition(TGauge Gauge, int32_t Position) { gauges_[static_cast<size_t>(Gauge) - 1] = Position; }
void TzubForm::SetGaugeEnabled(TGauge, bool) {}
TColor32 TzubForm::SwatchColor(TSwatch Swatch) { return swatches_[static_cast<size_t>(Swatch)]; }
void TzubForm::SetSwatchColor(TSwatch Swatch, TColor32 Color) { swatches_[static_cast<size_t>(Swatch)] = Color; }

void TzubForm::SetStatusText(int32_t Panel, const std::string& Text) {
  if (Panel >= 0 && Panel < static_cast<int32_t>(panels_.size()))
    panels_[static_cast<size_t>(Panel)]->setText(QString::fromStdString(Text));
}

bool TzubForm::StatusBarVisible() { return statusBar()->isVisible(); }

void TzubForm::SetMenuVisible(const std::string& Item, bool Visible) {
  if (QAction* A = MenuItem(Item)) A->setVisible(Visible);
}

bool TzubForm::MenuChecked(const std::string& Item) {
  QAction* A = MenuItem(Item);
  return A != nullptr && A->isChecked();
}

void TzubForm::Popup(const std::string& Menu, int32_t X, int32_t Y) {
  if (QMenu* M = SubMenu(Menu)) M->popup(viewWidget_->mapToGlobal(QPoint(X, Y)));
}

void TzubForm::SetMenuEnabled(const std::string& Item, bool Enabled) {
  if (QAction* A = MenuItem(Item)) A->setEnabled(Enabled);
}

void TzubForm::SetLayerListItems(const std::vector<TLayerListItem>&) {}

void TzubForm::SetMenuCaption(const std::string& Item, const std::string& Caption) {
  if (QAction* A = MenuItem(Item)) A->setText(QString::fromStdString(Caption));
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

// A plain form of the parameter dialog: one number per slider the command
// names ("None:" hides it), the channel boxes when asked for. The dialog with
// sliders and live previews replaces it.
bool TzubForm::RunParamDialog(const TParamDialogSetup& Setup, TParamValues& Values) {
  QDialog D(this);
  D.setWindowTitle(QString::fromStdString(Setup.Caption));
  auto* Form = new QFormLayout(&D);
  struct TRow {
    const std::string& Label;
    int32_t& Value;
    QSpinBox* Box = nullptr;
  } Rows[] = {{Setup.Label1, Values.P1}, {Setup.Label2, Values.P2}, {Setup.Label4, Values.P4}};
  for (TRow& R : Rows) {
    if (R.Label == "None:") continue;
    R.Box = new QSpinBox(&D);
    R.Box->setRange(-100000, 100000);
    R.Box->setValue(R.Value);
    Form->addRow(QString::fromStdString(R.Label), R.Box);
  }
  QCheckBox* Channels[3] = {};
  if (Setup.ChannelsVisible) {
    const char* Names[3] = {"&Red", "&Green", "&Blue"};
    const bool On[3] = {Values.Red, Values.Green, Values.Blue};
    for (int i = 0; i < 3; ++i) {
      Channels[i] = new QCheckBox(Names[i], &D);
      Channels[i]->setChecked(On[i]);
      Form->addRow(Channels[i]);
    }
  }
  if (!RunWithOkCancel(D, Form)) return false;
  for (TRow& R : Rows)
    if (R.Box) R.Value = R.Box->value();
  if (Setup.ChannelsVisible) {
    Values.Red = Channels[0]->isChecked();
    Values.Green = Channels[1]->isChecked();
    Values.Blue = Channels[2]->isChecked();
  }
  return true;
}

// Width and height, and the offsets for a canvas size (mode 3).
bool TzubForm::RunResizeDialog(const std::string& Caption, int32_t Mode, bool, TResizeValues& Values) {
  QDialog D(this);
  D.setWindowTitle(QString::fromStdString(Caption));
  auto* Form = new QFormLayout(&D);
  auto Box = [&](const char* Label, int32_t Value, int32_t Lo) {
    auto* S = new QSpinBox(&D);
    S->setRange(Lo, 32767);
    S->setValue(Value);
    Form->addRow(Label, S);
    return S;
  };
  QSpinBox* W = Box("&Width", Values.Width, 1);
  QSpinBox* H = Box("&Height", Values.Height, 1);
  QSpinBox* L = Mode == 3 ? Box("&Left", Values.Left, -32767) : nullptr;
  QSpinBox* T = Mode == 3 ? Box("&Top", Values.Top, -32767) : nullptr;
  if (!RunWithOkCancel(D, Form)) return false;
  Values.Width = W->value();
  Values.Height = H->value();
  if (L) Values.Left = L->value();
  if (T) Values.Top = T->value();
  return true;
}

bool TzubForm::InputQuery(const std::string& Caption, const std::string& Prompt, std::string& Value) {
  bool Ok = false;
  const QString V = QInputDialog::getText(this, QString::fromStdString(Caption), QString::fromStdString(Prompt),
                                          QLineEdit::Normal, QString::fromStdString(Value), &Ok);
  if (Ok) Value = V.toStdString();
  return Ok;
}
