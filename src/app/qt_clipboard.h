#pragma once
// The desktop's clipboard behind the engine's clipboard interface. A picture
// goes on it as an ordinary image, opaque as the desktop's picture formats
// show it to other programs; named data blocks (the alpha plane under
// "CFBitmap32Alpha") go beside it as custom MIME types. Everything set inside
// one Open/Close bracket is published together when the bracket closes, and
// the first thing set in a bracket replaces all that was there.
#include <memory>
#include <string>
#include <vector>

#include <QString>

#include "platform_clipboard.h"

class QClipboard;
class QMimeData;

class TQtClipboard : public TClipboard {
 public:
  // Board null: the application's clipboard (a QGuiApplication must exist).
  explicit TQtClipboard(QClipboard* Board = nullptr);
  ~TQtClipboard() override;

  void Open() override;
  void Close() override;
  void Clear() override;
  bool HasPicture() const override;
  std::unique_ptr<TPlatformBitmap> GetPicture() const override;
  void SetPicture(const TPlatformBitmap& Picture) override;
  bool HasFormat(const std::string& Name) const override;
  std::vector<uint8_t> GetData(const std::string& Name) const override;
  void SetData(const std::string& Name, const std::vector<uint8_t>& Data) override;

  // The MIME type a named block travels under: "application/x-" and the name
  // in lower case, every character other than a letter, digit, "." or "-"
  // turned into "-" ("CFBitmap32Alpha" -> "application/x-cfbitmap32alpha").
  static QString MimeType(const std::string& Name);

 private:
  // What is being set in the open bracket (made on the first set), else the desktop's.
  const QMimeData* Current() const;
  QMimeData& Pending();
  void Publish();

  QClipboard* board_;
  int openCount_ = 0;
  std::unique_ptr<QMimeData> pending_;
};

// Makes the desktop's clipboard the process's clipboard (Clipboard()).
void InstallQtClipboard();
