#pragma once
// The only way the program touches its settings. The settings key is opened
// with full access, falling back to read-only; integers are kept as decimal
// text; a missing value gives its default, which is written back when the key
// is writable; nothing is ever written through a key opened read-only.
// Every helper takes nullptr for "no key" and then behaves as if the value
// were missing and the key read-only.
#include <cstdint>
#include <memory>
#include <string>

#include "platform_registry.h"

// A registry object opened on Path below Root, or nullptr. Machine "." is the
// local machine. With Create, a key that cannot be opened for writing is
// opened read-only (Access() == KEY_READ); without it, nullptr.
std::unique_ptr<TRegistry> OpenSettingsKey(HKEY Root, const std::string& Path, const std::string& Machine,
                                           bool Create);

// Closes and frees the key, leaving Reg empty.
void CloseSettingsKey(std::unique_ptr<TRegistry>& Reg);

// Deletes Path (with its subkeys) below HKEY_CURRENT_USER. Not reported.
void DeleteSettingsKey(const std::string& Path);

// The stored integer, or Default when the value is missing or is not an
// integer text ("12abc", out of the int32 range). A value of another type than
// a string raises ERegistryException.
int32_t ReadSettingInt(TRegistry* Reg, const std::string& Name, int32_t Default);
void WriteSettingInt(TRegistry* Reg, const std::string& Name, int32_t Value);

// Value := the stored string, or Default when it is missing; with WriteBack
// the default is then stored (when the key is writable).
void ReadSettingStr(TRegistry* Reg, const std::string& Name, const std::string& Default, std::string& Value,
                    bool WriteBack);
void WriteSettingStr(TRegistry* Reg, const std::string& Name, const std::string& Value);

// True when Reg was opened for writing.
bool SettingsKeyWritable(const TRegistry* Reg);
