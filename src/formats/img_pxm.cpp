#include "img_pxm.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "img_fileio.h"
#include "platform_exceptions.h"
#include "stringutils.h"
#include "utilities.h"

namespace {

const char kUnit[] = "img_pxm";
constexpr size_t kHeaderWindow = 256;
constexpr int kMaxHeaderLines = 11;
constexpr char kQuote = '"';

// One line of the header text: its characters and where its terminating line
// break sits in the text (npos when the text ended inside the line).
struct TTextLine {
  size_t Start = 0, End = 0;
  bool Terminated = false;
};

// Splits at LF the way ExtractField does with the double quote as quote
// character: an LF between quotes does not end a line.
std::vector<TTextLine> SplitLines(const std::string& Text) {
  std::vector<TTextLine> lines;
  bool quoted = false;
  size_t start = 0;
  for (size_t i = 0; i < Text.size(); ++i) {
    if (Text[i] == kQuote) {
      quoted = !quoted;
    } else if (!quoted && Text[i] == '\n') {
      lines.push_back({start, i, true});
      start = i + 1;
    }
  }
  lines.push_back({start, Text.size(), false});
  return lines;
}

// Trims spaces and every control character (all bytes up to 0x20) off both
// ends, not only blanks: a header line may end in a carriage return or a tab.
std::string Trim(const std::string& S) {
  size_t b = 0, e = S.size();
  while (b < e && static_cast<unsigned char>(S[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(S[e - 1]) <= ' ') --e;
  return S.substr(b, e - b);
}

std::string UpperAscii(std::string S) {
  for (char& c : S)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return S;
}

}  // namespace

TPnmHeaderStatus ReadPnmHeader(TStream& Stream, TPnmHeader& Header) {
  Header = TPnmHeader{};
  // One byte past the window tells whether a CR at its very end is followed by an LF.
  uint8_t raw[kHeaderWindow + 1] = {};
  Stream.SetPosition(0);
  const size_t got = ReadUpTo(Stream, raw, sizeof raw);
  const size_t window = std::min(got, kHeaderWindow);
  size_t textEnd = 0;
  while (textEnd < window && raw[textEnd] != 0) ++textEnd;

  // The header text: CR and TAB become LF and runs of LF one LF; Where maps
  // each character back to its byte in the file.
  std::string text;
  std::vector<size_t> where;
  for (size_t i = 0; i < textEnd; ++i) {
    char c = static_cast<char>(raw[i]);
    if (c == '\r' || c == '\t') c = '\n';
    if (c == '\n' && !text.empty() && text.back() == '\n') continue;
    text.push_back(c);
    where.push_back(i);
  }

  const std::vector<TTextLine> lines = SplitLines(text);
  std::string roles[3];
  int filled = 0;
  TTextLine last;
  for (size_t n = 0; n < lines.size() && n < static_cast<size_t>(kMaxHeaderLines) && filled < 3; ++n) {
    const std::string line = text.substr(lines[n].Start, lines[n].End - lines[n].Start);
    const std::string content = Trim(ExtractField(line, '#', 1, kQuote, true));
    if (content.empty()) continue;
    roles[filled++] = content;
    last = lines[n];
  }
  if (filled < 3) return TPnmHeaderStatus::Unrecognized;

  Header.Width = StrToIntDef(ExtractField(roles[1], ' ', 1, kQuote, true), 0);
  Header.Height = StrToIntDef(ExtractField(roles[1], ' ', 2, kQuote, true), 0);
  Header.MaxVal = StrToIntDef(roles[2], 0);
  // Two-byte samples are refused before the magic is looked at.
  if (Header.MaxVal > 255) return TPnmHeaderStatus::Unsupported;
  const std::string magic = UpperAscii(roles[0]);
  if (magic == "P1" || magic == "P2" || magic == "P3" || magic == "P4") return TPnmHeaderStatus::Unsupported;
  if (magic != "P5" && magic != "P6") return TPnmHeaderStatus::Unrecognized;
  Header.Colour = magic == "P6";

  if (last.Terminated) {
    const size_t p = where[last.End];
    Header.DataStart = static_cast<int64_t>(p + (raw[p] == '\r' && p + 1 < got && raw[p + 1] == '\n' ? 2 : 1));
  } else if (textEnd == got) {
    // The file ends with the third line: a picture without pixel data.
    Header.DataStart = static_cast<int64_t>(got);
  } else {
    // The window or a zero byte cut the header short.
    return TPnmHeaderStatus::Unrecognized;
  }
  return TPnmHeaderStatus::Ok;
}

void CheckPnmDataPresent(TStream& Stream, const TPnmHeader& Header) {
  if (Header.Width <= 0 || Header.Height <= 0) return;
  const int64_t pixels = int64_t{Header.Width} * Header.Height;
  if (pixels <= kPnmMaxShortPixels) return;
  const int64_t needed = pixels * (Header.Colour ? 3 : 1);
  if (Stream.Size() - Header.DataStart < needed) throw EReadError("Stream read error");
}

void ReadPnmRows(TStream& Stream, const TPnmHeader& Header, const TPnmRowSink& Row) {
  if (Header.Width <= 0 || Header.Height <= 0) return;
  const size_t len = static_cast<size_t>(Header.Width) * (Header.Colour ? 3 : 1);
  std::vector<uint8_t> row(len);
  // Samples of a file with fewer levels than a byte holds are spread over
  // 0..255, rounded half up, so that its top level is white; a sample above
  // the file's own top level counts as the top. The files this program
  // writes have 255 levels and read back byte for byte; a top level of 0
  // has no scale and is read as it stands.
  const bool scaled = Header.MaxVal > 0 && Header.MaxVal < 255;
  uint8_t level[256];
  for (int32_t v = 0; v < 256; ++v) {
    const int32_t m = Header.MaxVal;
    level[v] = static_cast<uint8_t>(scaled ? (std::min(v, m) * 255 + m / 2) / m : v);
  }
  Stream.SetPosition(Header.DataStart);
  for (int32_t y = 0; y < Header.Height; ++y) {
    // A row the file does not complete is dropped with everything after it.
    if (ReadUpTo(Stream, row.data(), len) < len) return;
    if (scaled)
      for (uint8_t& b : row) b = level[b];
    Row(y, row.data());
  }
}

bool ReadPnmReporting(TStream& Stream, const std::string& FileName, const std::string& Caption,
                      const std::function<void(const TPnmHeader&)>& Prepare, const TPnmRowSink& Row,
                      std::string* Failure) {
  auto box = [&](const std::string& Text, uint32_t Icon) {
    if (Failure) *Failure = Text;
    ShowUnitMessageBox(Text, Caption, MB_OK | Icon);
    return false;
  };
  try {
    TPnmHeader h;
    switch (ReadPnmHeader(Stream, h)) {
      case TPnmHeaderStatus::Unsupported:
        return box("unsupported Portable Pixel Map format on " + FileName, MB_ICONEXCLAMATION);
      case TPnmHeaderStatus::Unrecognized:
        return box("unrecognized Portable Pixel Map format on " + FileName, MB_ICONEXCLAMATION);
      case TPnmHeaderStatus::Ok:
        break;
    }
    CheckPnmDataPresent(Stream, h);
    CheckImageFitsMemory(h.Width, h.Height);
    Prepare(h);
    ReadPnmRows(Stream, h, Row);
    return true;
  } catch (const std::exception& e) {
    return box("error reading " + FileName + " : " + e.what(), MB_ICONHAND);
  }
}

void LoadPNMFromStream(TStream& Stream, const std::string& FileName, TBitmap32* Bitmap) {
  if (!Bitmap) return;
  Bitmap->SetSize(0, 0);
  // Decoded aside: a failure half-way leaves no half picture behind.
  TBitmap32 picture;
  bool colour = false;
  const bool read = ReadPnmReporting(
      Stream, FileName, kUnit,
      [&](const TPnmHeader& h) {
        colour = h.Colour;
        picture.SetSize(h.Width, h.Height);
        picture.Clear();  // opaque black where rows are missing
      },
      [&](int32_t y, const uint8_t* row) {
        TColor32* dst = picture.RowPtr(y);
        const int32_t w = picture.Width();
        if (colour) {
          for (int32_t x = 0; x < w; ++x, row += 3) dst[x] = MakeArgb(row[0], row[1], row[2]);
        } else {
          for (int32_t x = 0; x < w; ++x) dst[x] = GrayArgb(row[x]);
        }
      });
  if (read) {
    // The pixels only: the bitmap keeps its own drawing properties.
    TUpdateGuard guard(*Bitmap);
    Bitmap->SetSize(picture.Width(), picture.Height());
    std::copy(picture.Bits(), picture.Bits() + picture.PixelCount(), Bitmap->Bits());
  }
  Bitmap->Changed();
}

void LoadPNM(const std::string& FileName, TBitmap32* Bitmap) {
  if (!Bitmap) return;
  Bitmap->SetSize(0, 0);
  const std::unique_ptr<TFileStream> file = OpenFileReporting(FileName, kUnit);
  if (!file) return;
  LoadPNMFromStream(*file, FileName, Bitmap);
}

void WritePnm(TStream& Stream, bool Colour, int32_t Width, int32_t Height, const TPnmRowSource& FillRow) {
  const int32_t w = std::max(Width, 0), h = std::max(Height, 0);
  const std::string header =
      std::string(Colour ? "P6\n" : "P5\n") + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  Stream.WriteBuffer(header.data(), header.size());
  if (w == 0 || h == 0) return;
  std::vector<uint8_t> row(static_cast<size_t>(w) * (Colour ? 3 : 1));
  for (int32_t y = 0; y < h; ++y) {
    FillRow(y, row.data());
    Stream.WriteBuffer(row.data(), row.size());
  }
}

bool SavePnmReporting(const std::string& FileName, const std::string& Caption, bool Colour, int32_t Width,
                      int32_t Height, const TPnmRowSource& FillRow) {
  return SaveFileReporting(FileName, Caption, [&](TStream& s) { WritePnm(s, Colour, Width, Height, FillRow); });
}

bool SavePGM(const std::string& FileName, const TBitmap32* Bitmap) {
  if (!Bitmap) return false;
  return SavePnmReporting(FileName, kUnit, false, Bitmap->Width(), Bitmap->Height(), [&](int32_t y, uint8_t* row) {
    const TColor32* src = Bitmap->RowPtr(y);
    for (int32_t x = 0; x < Bitmap->Width(); ++x) row[x] = PnmGrey(src[x]);
  });
}

bool SavePPM(const std::string& FileName, const TBitmap32* Bitmap) {
  if (!Bitmap) return false;
  return SavePnmReporting(FileName, kUnit, true, Bitmap->Width(), Bitmap->Height(), [&](int32_t y, uint8_t* row) {
    const TColor32* src = Bitmap->RowPtr(y);
    for (int32_t x = 0; x < Bitmap->Width(); ++x, row += 3) {
      row[0] = static_cast<uint8_t>(RedOf(src[x]));
      row[1] = static_cast<uint8_t>(GreenOf(src[x]));
      row[2] = static_cast<uint8_t>(BlueOf(src[x]));
    }
  });
}
