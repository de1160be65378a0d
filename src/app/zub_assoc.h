#pragma once
// The program registers itself as an opener of its picture types the way the
// desktop expects: a desktop entry "vemra.desktop" under
// $XDG_DATA_HOME/applications, a shared-mime-info type for ".zub" under
// $XDG_DATA_HOME/mime, and entries in $XDG_CONFIG_HOME/mimeapps.list: the
// program is always added as an opener of each type, and becomes the default
// only where no default exists yet, so a user's choice is never taken over.
// Every file is written through the atomic save.
#include <string>
#include <vector>

inline constexpr const char* kDesktopFileName = "vemra.desktop";
inline constexpr const char* kZubMimeType = "image/x-vemra-zub";

// The extensions registered, in order.
const std::vector<std::string>& AssociatedExtensions();
// The MIME type of one of them; "" for any other.
std::string MimeTypeOfExtension(const std::string& Ext);

// $XDG_DATA_HOME (default ~/.local/share) and $XDG_CONFIG_HOME (default ~/.config).
std::string XdgDataHome();
std::string XdgConfigHome();

// The desktop entry that starts Exe with one file.
std::string DesktopEntryText(const std::string& Exe);
// Exe as the first word of a desktop entry's Exec key: quoted, with the
// characters that quoting and the key's own escapes reserve escaped.
std::string DesktopExecProgram(const std::string& Exe);

// The text of a mimeapps.list, edited line by line so that everything the
// user or other programs wrote stays as it was.
class TMimeAppsList {
 public:
  explicit TMimeAppsList(const std::string& Text = "");
  std::string Text() const;
  // The value of Key in [Section]; "" when missing. Has: whether the key exists.
  std::string Value(const std::string& Section, const std::string& Key) const;
  bool Has(const std::string& Section, const std::string& Key) const;
  void SetValue(const std::string& Section, const std::string& Key, const std::string& Value);

 private:
  int FindSection(const std::string& Section) const;
  int FindKey(int SectionLine, const std::string& Key) const;
  std::vector<std::string> lines_;
};

// Registers one extension in List: the program added to the type's openers,
// and made its default when neither List nor the system's lists name one.
// Raises for an extension without a known type.
void CheckFileType(const std::string& Ext, const std::string& Exe, TMimeAppsList& List);

// Writes the desktop entry, the ".zub" type, and every extension's
// mimeapps.list entries. A failing extension is reported ("... on
// CheckFileType", warning icon) and the others are registered all the same.
void RenewFileAssociations(const std::string& Exe);
