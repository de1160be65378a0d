#include "regutils.h"

#include "stringutils.h"

namespace {

// A default written back while reading is a courtesy: when the store refuses
// it, the reader still gets its default rather than an error.
void WriteBackQuietly(TRegistry* Reg, const std::string& Name, const std::string& Text) {
  try {
    Reg->WriteString(Name, Text);
  } catch (const ERegistryException&) {
  }
}

}  // namespace

bool SettingsKeyWritable(const TRegistry* Reg) { return Reg && Reg->Access() == KEY_ALL_ACCESS; }

std::unique_ptr<TRegistry> OpenSettingsKey(HKEY Root, const std::string& Path, const std::string& Machine,
                                           bool Create) {
  try {
    auto reg = std::make_unique<TRegistry>(KEY_ALL_ACCESS);
    reg->SetRootKey(Root);
    if (Machine != "." && !reg->RegistryConnect(Machine)) return nullptr;
    if (reg->OpenKey(Path, Create)) return reg;
    if (!Create) return nullptr;
    reg->SetAccess(KEY_READ);
    if (reg->OpenKey(Path, false)) return reg;
  } catch (const std::exception&) {
    // Any failure means "no key"; the readers then give their defaults.
  }
  return nullptr;
}

void CloseSettingsKey(std::unique_ptr<TRegistry>& Reg) {
  if (!Reg) return;
  Reg->CloseKey();
  Reg.reset();
}

void DeleteSettingsKey(const std::string& Path) {
  try {
    TRegistry reg(KEY_ALL_ACCESS);
    reg.SetRootKey(HKEY_CURRENT_USER);
    reg.DeleteKey(Path);
  } catch (const std::exception&) {
  }
}

int32_t ReadSettingInt(TRegistry* Reg, const std::string& Name, int32_t Default) {
  if (!Reg) return Default;
  if (Reg->ValueExists(Name)) return StrToIntDef(Reg->ReadString(Name), Default);
  if (SettingsKeyWritable(Reg)) WriteBackQuietly(Reg, Name, std::to_string(Default));
  return Default;
}

void WriteSettingInt(TRegistry* Reg, const std::string& Name, int32_t Value) {
  if (!SettingsKeyWritable(Reg)) return;
  Reg->WriteString(Name, std::to_string(Value));
}

void ReadSettingStr(TRegistry* Reg, const std::string& Name, const std::string& Default, std::string& Value,
                    bool WriteBack) {
  Value = Default;
  if (!Reg) return;
  if (Reg->ValueExists(Name)) {
    Value = Reg->ReadString(Name);
    return;
  }
  if (WriteBack && SettingsKeyWritable(Reg)) WriteBackQuietly(Reg, Name, Default);
}

void WriteSettingStr(TRegistry* Reg, const std::string& Name, const std::string& Value) {
  if (!SettingsKeyWritable(Reg)) return;
  Reg->WriteString(Name, Value);
}
