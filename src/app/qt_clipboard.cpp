#include "qt_clipboard.h"

#include <QByteArray>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <cstring>

TQtClipboard::TQtClipboard(QClipboard* Board) : board_(Board ? Board : QGuiApplication::clipboard()) {}

TQtClipboard::~TQtClipboard() = default;

QString TQtClipboard::MimeType(const std::string& Name) {
  std::string t = "application/x-";
  for (char c : Name) {
    const bool keep = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
    if (c >= 'A' && c <= 'Z')
      t += static_cast<char>(c - 'A' + 'a');
    else
      t += keep ? c : '-';
  }
  return QString::fromStdString(t);
}

void TQtClipboard::Open() { ++openCount_; }

void TQtClipboard::Close() {
  // An unpaired Close is harmless, as closing a closed clipboard is.
  if (openCount_ == 0) return;
  if (--openCount_ == 0) Publish();
}

void TQtClipboard::Publish() {
  if (pending_) board_->setMimeData(pending_.release());  // the clipboard owns it from here
}

QMimeData& TQtClipboard::Pending() {
  if (!pending_) pending_ = std::make_unique<QMimeData>();
  return *pending_;
}

const QMimeData* TQtClipboard::Current() const { return pending_ ? pending_.get() : board_->mimeData(); }

void TQtClipboard::Clear() {
  pending_.reset();
  board_->clear();
}

bool TQtClipboard::HasPicture() const {
  const QMimeData* m = Current();
  return m != nullptr && m->hasImage();
}

std::unique_ptr<TPlatformBitmap> TQtClipboard::GetPicture() const {
  const QMimeData* m = Current();
  if (m == nullptr || !m->hasImage()) return nullptr;
  const QImage image = qvariant_cast<QImage>(m->imageData()).convertToFormat(QImage::Format_ARGB32);
  if (image.isNull()) return nullptr;
  auto b = std::make_unique<TPlatformBitmap>();
  b->SetPixelFormat(TPixelFormat::pf32bit);
  b->SetSize(image.width(), image.height());
  // Both keep a pixel as the 32-bit word 0xAARRGGBB.
  for (int y = 0; y < image.height(); ++y)
    std::memcpy(b->ScanLine(y), image.constScanLine(y), static_cast<size_t>(image.width()) * 4);
  return b;
}

void TQtClipboard::SetPicture(const TPlatformBitmap& Picture) {
  QImage image(Picture.Width(), Picture.Height(), QImage::Format_RGB32);
  for (int y = 0; y < Picture.Height(); ++y) {
    const uint32_t* src = Picture.ScanLine(y);
    auto* dst = reinterpret_cast<uint32_t*>(image.scanLine(y));
    for (int x = 0; x < Picture.Width(); ++x) dst[x] = src[x] | 0xFF000000u;
  }
  Open();
  // The first thing set in a bracket replaces what was there.
  if (!pending_) Pending();
  pending_->setImageData(image);
  Close();
}

bool TQtClipboard::HasFormat(const std::string& Name) const {
  const QMimeData* m = Current();
  return m != nullptr && m->hasFormat(MimeType(Name));
}

std::vector<uint8_t> TQtClipboard::GetData(const std::string& Name) const {
  const QMimeData* m = Current();
  if (m == nullptr) return {};
  const QByteArray bytes = m->data(MimeType(Name));
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

void TQtClipboard::SetData(const std::string& Name, const std::vector<uint8_t>& Data) {
  Open();
  Pending().setData(MimeType(Name),
                    QByteArray(reinterpret_cast<const char*>(Data.data()), static_cast<qsizetype>(Data.size())));
  Close();
}

void InstallQtClipboard() { SetClipboard(std::make_unique<TQtClipboard>()); }
