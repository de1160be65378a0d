// File associations as an XDG desktop entry, a MIME type and mimeapps.list.
#include "zub_assoc.h"

#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "execute.h"
#include "img_fileio.h"
#include "platform_messagebox.h"
#include "platform_process.h"
#include "utilities.h"

namespace fs = std::filesystem;

namespace {

struct TExtType {
  const char* Ext;
  const char* Mime;
};

// The freedesktop names of the types, so other programs' entries meet ours.
const TExtType kTypes[] = {
    {".jpg", "image/jpeg"},
    {".jpeg", "image/jpeg"},
    {".png", "image/png"},
    {".gif", "image/gif"},
    {".tif", "image/tiff"},
    {".bmp", "image/bmp"},
    {".jp2", "image/jp2"},
    {".j2k", "image/x-jp2-codestream"},
    {".jpc", "image/x-jp2-codestream"},
    {".pnm", "image/x-portable-anymap"},
    {".ppm", "image/x-portable-pixmap"},
    {".pgm", "image/x-portable-graymap"},
    {".ras", "image/x-cmu-raster"},
    {".zub", kZubMimeType},
};

const char* kAdded = "Added Associations";
const char* kDefaults = "Default Applications";

std::string EnvOr(const char* Name, const std::string& Fallback) {
  const char* V = std::getenv(Name);
  return V != nullptr && *V != '\0' ? std::string(V) : Fallback;
}

std::string Home() { return EnvOr("HOME", "/"); }

std::string ReadText(const std::string& Name) {
  std::ifstream in(Name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteText(const std::string& Name, const std::string& Text) {
  std::error_code ec;
  fs::create_directories(fs::path(Name).parent_path(), ec);
  SaveFileAtomically(Name, [&](TStream& S) { S.WriteBuffer(Text.data(), Text.size()); });
}

std::vector<std::string> SplitList(const std::string& V, char Sep) {
  std::vector<std::string> Out;
  std::string Item;
  std::istringstream in(V);
  while (std::getline(in, Item, Sep))
    if (!Item.empty()) Out.push_back(Item);
  return Out;
}

std::string Trim(const std::string& S) {
  const size_t B = S.find_first_not_of(" \t\r");
  if (B == std::string::npos) return "";
  const size_t E = S.find_last_not_of(" \t\r");
  return S.substr(B, E - B + 1);
}

// Whether one of the system's lists (below $XDG_CONFIG_DIRS and
// $XDG_DATA_DIRS/applications) names a default for Mime.
bool SystemHasDefault(const std::string& Mime) {
  std::vector<std::string> Files;
  for (const std::string& D : SplitList(EnvOr("XDG_CONFIG_DIRS", "/etc/xdg"), ':')) Files.push_back(D + "/mimeapps.list");
  for (const std::string& D : SplitList(EnvOr("XDG_DATA_DIRS", "/usr/local/share:/usr/share"), ':')) {
    Files.push_back(D + "/applications/mimeapps.list");
    Files.push_back(D + "/applications/defaults.list");
  }
  for (const std::string& F : Files) {
    std::error_code ec;
    if (!fs::is_regular_file(F, ec)) continue;
    if (!TMimeAppsList(ReadText(F)).Value(kDefaults, Mime).empty()) return true;
  }
  return false;
}

const char* kZubTypeXml =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
    "  <mime-type type=\"image/x-vemra-zub\">\n"
    "    <comment>Vemra picture</comment>\n"
    "    <magic priority=\"50\">\n"
    "      <match type=\"string\" value=\"ZU3\" offset=\"0\"/>\n"
    "    </magic>\n"
    "    <glob pattern=\"*.zub\"/>\n"
    "  </mime-type>\n"
    "</mime-info>\n";

}  // namespace

const std::vector<std::string>& AssociatedExtensions() {
  static const std::vector<std::string> Exts = [] {
    std::vector<std::string> V;
    for (const TExtType& T : kTypes) V.push_back(T.Ext);
    return V;
  }();
  return Exts;
}

std::string MimeTypeOfExtension(const std::string& Ext) {
  for (const TExtType& T : kTypes)
    if (Ext == T.Ext) return T.Mime;
  return "";
}

std::string XdgDataHome() { return EnvOr("XDG_DATA_HOME", Home() + "/.local/share"); }
std::string XdgConfigHome() { return EnvOr("XDG_CONFIG_HOME", Home() + "/.config"); }

std::string DesktopExecProgram(const std::string& Exe) {
  // Inside the Exec key's double quotes, " ` $ and \ need a backslash; the
  // key is a string value, whose own escaping doubles every backslash again.
  // "%" is a field code unless doubled.
  std::string Quoted;
  for (char C : Exe) {
    if (C == '"' || C == '`' || C == '$') {
      Quoted += "\\\\";
      Quoted += C;
    } else if (C == '\\') {
      Quoted += "\\\\\\\\";
    } else if (C == '%') {
      Quoted += "%%";
    } else {
      Quoted += C;
    }
  }
  return "\"" + Quoted + "\"";
}

std::string DesktopEntryText(const std::string& Exe) {
  std::string Mimes;
  for (const TExtType& T : kTypes)
    if (Mimes.find(std::string(T.Mime) + ";") == std::string::npos) Mimes += std::string(T.Mime) + ";";
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Version=1.4\n"
         "Name=Vemra\n"
         "GenericName=Picture Editor\n"
         "Comment=Open, edit and save raster pictures\n"
         "Exec=" + DesktopExecProgram(Exe) + " %f\n"
         "Terminal=false\n"
         "Categories=Graphics;2DGraphics;RasterGraphics;\n"
         "MimeType=" + Mimes + "\n";
}

// ---- TMimeAppsList -------------------------------------------------------------------

TMimeAppsList::TMimeAppsList(const std::string& Text) {
  std::istringstream in(Text);
  std::string Line;
  while (std::getline(in, Line)) lines_.push_back(Line);
}

std::string TMimeAppsList::Text() const {
  std::string Out;
  for (const std::string& L : lines_) Out += L + "\n";
  return Out;
}

int TMimeAppsList::FindSection(const std::string& Section) const {
  for (size_t i = 0; i < lines_.size(); ++i)
    if (Trim(lines_[i]) == "[" + Section + "]") return static_cast<int>(i);
  return -1;
}

int TMimeAppsList::FindKey(int SectionLine, const std::string& Key) const {
  for (size_t i = static_cast<size_t>(SectionLine) + 1; i < lines_.size(); ++i) {
    const std::string L = Trim(lines_[i]);
    if (!L.empty() && L[0] == '[') break;
    const size_t Eq = L.find('=');
    if (Eq != std::string::npos && Trim(L.substr(0, Eq)) == Key) return static_cast<int>(i);
  }
  return -1;
}

bool TMimeAppsList::Has(const std::string& Section, const std::string& Key) const {
  const int S = FindSection(Section);
  return S >= 0 && FindKey(S, Key) >= 0;
}

std::string TMimeAppsList::Value(const std::string& Section, const std::string& Key) const {
  const int S = FindSection(Section);
  if (S < 0) return "";
  const int K = FindKey(S, Key);
  if (K < 0) return "";
  const std::string& L = lines_[static_cast<size_t>(K)];
  return Trim(L.substr(L.find('=') + 1));
}

void TMimeAppsList::SetValue(const std::string& Section, const std::string& Key, const std::string& Value) {
  int S = FindSection(Section);
  if (S < 0) {
    if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.push_back("");
    lines_.push_back("[" + Section + "]");
    S = static_cast<int>(lines_.size()) - 1;
  }
  const int K = FindKey(S, Key);
  if (K >= 0) {
    lines_[static_cast<size_t>(K)] = Key + "=" + Value;
    return;
  }
  // After the section's last key, before the blank lines that part it from the next.
  size_t At = static_cast<size_t>(S) + 1;
  for (size_t i = At; i < lines_.size(); ++i) {
    const std::string L = Trim(lines_[i]);
    if (!L.empty() && L[0] == '[') break;
    if (!L.empty()) At = i + 1;
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(At), Key + "=" + Value);
}

void CheckFileType(const std::string& Ext, const std::string& Exe, TMimeAppsList& List) {
  (void)Exe;  // the desktop entry carries the command; the list names the entry
  const std::string Mime = MimeTypeOfExtension(Ext);
  if (Mime.empty()) throw std::invalid_argument("no MIME type for " + Ext);
  std::vector<std::string> Openers = SplitList(List.Value(kAdded, Mime), ';');
  bool Listed = false;
  for (const std::string& O : Openers) Listed = Listed || O == kDesktopFileName;
  if (!Listed) {
    std::string V = List.Value(kAdded, Mime);
    if (!V.empty() && V.back() != ';') V += ';';
    List.SetValue(kAdded, Mime, V + kDesktopFileName + ";");
  }
  if (List.Value(kDefaults, Mime).empty() && !SystemHasDefault(Mime))
    List.SetValue(kDefaults, Mime, std::string(kDesktopFileName) + ";");
}

void RenewFileAssociations(const std::string& Exe) {
  const std::string Data = XdgDataHome();
  WriteText(Data + "/applications/" + kDesktopFileName, DesktopEntryText(Exe));
  WriteText(Data + "/mime/packages/vemra-zub.xml", kZubTypeXml);
  // The desktop reads the types from the compiled database; without the
  // tool the package file still waits for the next update.
  RunAndWait("update-mime-database \"" + Data + "/mime\"", ".", SW_HIDE, 0, 20000);

  const std::string ListFile = XdgConfigHome() + "/mimeapps.list";
  TMimeAppsList List(ReadText(ListFile));
  for (const std::string& Ext : AssociatedExtensions()) {
    try {
      CheckFileType(Ext, Exe, List);
    } catch (const std::exception& E) {
      ShowMessageBox(std::string(E.what()) + "\n" + "on CheckFileType", MB_ICONWARNING);
    }
  }
  WriteText(ListFile, List.Text());
}
