#pragma once
// The clipboard: a picture and named data blocks, set together inside an
// Open/Close bracket (setting the picture empties the clipboard first, as the
// platform does). The application installs the desktop's clipboard; tests and
// headless runs use the in-memory one.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform_graphics.h"

class TClipboard {
 public:
  virtual ~TClipboard() = default;
  virtual void Open() = 0;
  virtual void Close() = 0;
  virtual void Clear() = 0;
  virtual bool HasPicture() const = 0;
  // A 32-bit copy of the clipboard's picture, or null when there is none.
  virtual std::unique_ptr<TPlatformBitmap> GetPicture() const = 0;
  virtual void SetPicture(const TPlatformBitmap& Picture) = 0;
  virtual bool HasFormat(const std::string& Name) const = 0;
  virtual std::vector<uint8_t> GetData(const std::string& Name) const = 0;
  virtual void SetData(const std::string& Name, const std::vector<uint8_t>& Data) = 0;
};

// The process's clipboard (an in-memory one until the application installs its own).
TClipboard& Clipboard();
void SetClipboard(std::unique_ptr<TClipboard> Board);

// The in-memory clipboard: what a headless run and the tests use.
class TMemoryClipboard : public TClipboard {
 public:
  void Open() override;
  void Close() override;
  void Clear() override;
  bool HasPicture() const override { return picture_ != nullptr; }
  std::unique_ptr<TPlatformBitmap> GetPicture() const override;
  void SetPicture(const TPlatformBitmap& Picture) override;
  bool HasFormat(const std::string& Name) const override;
  std::vector<uint8_t> GetData(const std::string& Name) const override;
  void SetData(const std::string& Name, const std::vector<uint8_t>& Data) override;

 private:
  int openCount_ = 0;
  bool clearedInBracket_ = false;
  std::unique_ptr<TPlatformBitmap> picture_;
  std::vector<std::pair<std::string, std::vector<uint8_t>>> blocks_;
};
