#pragma once
// The effect plug-in host.
//
// Plug-ins are shared libraries in the folder "plugins" beside the program.
// Every time the Plugins menu opens, the folder is scanned in name order and
// the menu model is rebuilt: one submenu per library, one item per visible
// function. Submenus and items of an earlier scan are reused (hidden first,
// shown again when filled), so the window only has to mirror the model.
// A chosen function runs as an action callback of the command engine, so it
// gets undo, the selection and the layers like every built-in effect.
//
// A library is loaded only for one scan or one run and freed right after.
// Every call into a plug-in is wrapped: what it throws is reported with the
// exception box and goes no further.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "zub_main_engine.h"

class EditorUi;
struct VemraHostRoutines;
struct VemraPluginInfo;

struct TPluginMenuItem {
  std::string Caption;  // trimmed name + " by " + trimmed author
  std::string Hint;
  int32_t Tag = 0;      // position in gPluginList
  bool Visible = false;
};

struct TPluginSubmenu {
  std::string Caption;  // the library's file name
  bool Visible = false;
  std::vector<TPluginMenuItem> Items;
};

// Thrown for (and reported in place of) whatever a plug-in lets escape.
class EPluginError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TPluginHost {
 public:
  // ProgramFolder is the folder that holds "plugins" (the program's own).
  explicit TPluginHost(std::string ProgramFolder);

  // The menu model: "&Plugins"'s submenus as the last scan left them.
  std::vector<TPluginSubmenu> Submenus;
  // One entry per visible item, "file.so:index"; its size is the capacity,
  // 32 at every scan and growing by 32; gPluginCount entries are used.
  std::vector<std::string> gPluginList;
  int32_t gPluginCount = 0;
  int32_t gLastPluginItem = -1;  // the Tag "&Redo Plugin" runs again

  // The opaque main-window token put into the host record's form field.
  void* MainWindow = nullptr;

  std::string PluginFolder() const { return fFolder + "/plugins"; }

  // The scan of "&Plugins" (PluginDiscover). Exceptions of plug-ins are
  // reported through Ui; anything else that escapes is reported with the
  // place "on action Plugins1Click".
  void Plugins1Click(EditorUi& Ui);
  // A plug-in item: runs ExecutePlugin for Tag through the engine with an
  // undo snapshot, then enables "&Redo Plugin" (RedoPlugin1).
  void plugin1Click(TEditor& Editor, int32_t Tag);
  // "&Redo Plugin": the last item again, when there was one.
  void RedoPlugin1Click(TEditor& Editor);
  // The action callback: 0 (write back) or 8 (cancelled).
  int32_t ExecutePlugin(TEditor& Editor, int32_t Tag);

 private:
  void Scan(EditorUi& Ui);
  void ScanLibrary(EditorUi& Ui, const std::string& FileName, VemraPluginInfo& Info, size_t& Submenu,
                   size_t ExistingSubmenus);

  std::string fFolder;
};

// The text of a fixed-size field: up to the first zero, never past Size.
std::string PluginFieldText(const char* Field, size_t Size);
// The work bitmap the host routines accept while a plug-in runs (null: none).
void SetPluginWorkBitmap(TBitmap32* Work);
// The 17 routines the host record carries.
const VemraHostRoutines& PluginHostRoutines();
