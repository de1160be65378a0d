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
// A library is loaded only for one scan or one run, and only in a helper
// process (zub_plugin_process.h): what a plug-in throws is passed over
// silently, as a plug-in's own failure always was; a helper that crashes,
// exits or hangs is stopped and reported once, and the picture stays as it was.
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "platform_exceptions.h"
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

// Reported when a plug-in's helper cannot start, or ends before it is done.
class EPluginError : public Exception {
 public:
  explicit EPluginError(const std::string& Message, std::string Class = "EPluginError")
      : Exception(Message), class_(std::move(Class)) {}
  std::string ClassName() const override { return class_; }

 private:
  std::string class_;
};

// The most functions one library may offer. A submenu shows its items in one
// column: 256 items of some 20 pixels already stand several screens tall, so
// no usable library offers more, and a library that claims 2^31 - 1 costs no
// more than 256 Identify calls and menu items.
constexpr int32_t kMaxPluginFunctions = 256;

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

  // How long a plug-in may keep the editor waiting before the user is asked
  // whether to stop it: in Query, Identify and Execute, and in its dialog,
  // where the user is busy with the plug-in itself.
  uint32_t WaitMs = 10000;
  uint32_t DialogWaitMs = 120000;

  std::string PluginFolder() const { return fFolder + "/plugins"; }

  // The scan of "&Plugins" (PluginDiscover). Exceptions of plug-ins are
  // passed over; anything else that escapes is reported through Ui with the
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
  std::string HelperFile() const;
  // True to keep waiting for FileName's helper: asks the user.
  bool KeepWaiting(EditorUi& Ui, const std::string& FileName);

  std::string fFolder;
  // Libraries whose scan crashed, exited or was stopped, by name, size and
  // time: skipped without a word until the file changes, so a plug-in that
  // hangs in Query does not stall (and report) every opening of the menu.
  std::set<std::tuple<std::string, uintmax_t, int64_t>> fBroken;
};

// Where the helper program "vemra-plugin-host" is looked for: the program's
// folder when empty (tests name the build tree's).
void SetPluginHelperFolder(const std::string& Folder);

// The text of a fixed-size field: up to the first zero, never past Size.
std::string PluginFieldText(const char* Field, size_t Size);
// The work bitmap the host routines accept while a plug-in runs (null: none).
void SetPluginWorkBitmap(TBitmap32* Work);
// The 17 routines the host record carries.
const VemraHostRoutines& PluginHostRoutines();
