#pragma once
// The start-up sequence of the workbench and its orderly end, as one function that app/main.cpp
// calls and tests drive. Each step is reported to an optional observer, so the order is checked
// by what exists at each moment.
#include <chrono>
#include <functional>
#include <string>

struct TStartOptions {
  // Folder of "Setup.ini", "logtype.ini" and the folder "log". Empty: the program's own folders
  // (beside the executable, or the XDG folders when that is not writable).
  std::string ConfigDir;
  // Taken as the executable's folder when choosing those folders; empty: the real one.
  std::string ExecutableFolder;
  // Show a message box when start-up fails (besides the log and stderr).
  bool ShowErrors = true;
  // Diagnostics: "quit" prints the time from process start to the first showing of the
  // parameter dialog and ends the program; "open" prints it, presses "打开串口" and keeps running.
  std::string Probe;
  std::chrono::steady_clock::time_point MainEntered = std::chrono::steady_clock::now();
  // "--help" or "--version" was given: print StartUsage() or StartVersion() instead of running.
  bool Help = false;
  bool Version = false;
};

enum class TStartStep {
  LogCreated,
  PortCreated,
  ContextCreated,
  AppInitialised,
  SplashShown,
  FormatsSet,
  MainFormCreated,
  ParamFormCreated,
  PromptFormCreated,
  IdentifierFormCreated,
  SplashDestroyed,
  LoopStarting,
  LoopEnded,
  MainFormDestroyed,
  ParamFormDestroyed,
  PromptFormDestroyed,
  IdentifierFormDestroyed,
  ContextDestroyed,
  PortDestroyed,
  LogDestroyed,
};
const char* StartStepName(TStartStep step);

struct TStartUpHooks {
  // Called right after each step. An exception thrown while the windows are created counts as a
  // window that failed to be created.
  std::function<void(TStartStep)> OnStep;
};

// Reads "--config-dir DIR" (or "--config-dir=DIR"), "--help", "--version" and the environment
// variables DLT645_CONFIG_DIR and DLT645_STARTUP_PROBE. False with a message on an unknown option.
bool ParseStartOptions(int argc, char** argv, TStartOptions& options, std::string& error);
// The text of "--help": the options, the environment variable and where the files live.
const char* StartUsage();
// The text of "--version": the program's name and version.
const char* StartVersion();

class QTranslator;
// Qt's own texts (standard buttons, the file dialog, edit menus) in Chinese: Qt's translation
// qtbase_zh_CN from Qt's translations folder, installed on the application and owned by it.
// Null, with a log entry, when the translation is not installed.
QTranslator* InstallQtTranslations();

// Runs the workbench: log, shared serial port, application context (settings, channel, sending
// thread), application object, splash, date and time formats, windows, splash gone, message loop;
// then the reverse. Creates the QApplication unless one exists. Returns the exit code.
int RunApplication(int& argc, char** argv, const TStartOptions& options, const TStartUpHooks& hooks = {});
