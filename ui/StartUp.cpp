#include "ui/StartUp.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <QTranslator>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <memory>
#include <fcntl.h>
#include <unistd.h>

#include "comm/PortLink.h"
#include "protocol/LogSink.h"
#include "services/AppPaths.h"
#include "services/Log.h"
#include "services/SingletonUnit.h"
#include "ui/BaseFrm.h"
#include "ui/Controls.h"
#include "ui/IdentifierDlt.h"
#include "ui/MainFrm.h"
#include "ui/ParamFrm.h"
#include "ui/Prompt.h"
#include "ui/Splash.h"

#ifndef DLT_VERSION
#define DLT_VERSION "0.0.0"
#endif

const char* StartStepName(TStartStep step) {
  switch (step) {
    case TStartStep::LogCreated: return "LogCreated";
    case TStartStep::PortCreated: return "PortCreated";
    case TStartStep::ContextCreated: return "ContextCreated";
    case TStartStep::AppInitialised: return "AppInitialised";
    case TStartStep::SplashShown: return "SplashShown";
    case TStartStep::FormatsSet: return "FormatsSet";
    case TStartStep::MainFormCreated: return "MainFormCreated";
    case TStartStep::ParamFormCreated: return "ParamFormCreated";
    case TStartStep::PromptFormCreated: return "PromptFormCreated";
    case TStartStep::IdentifierFormCreated: return "IdentifierFormCreated";
    case TStartStep::SplashDestroyed: return "SplashDestroyed";
    case TStartStep::LoopStarting: return "LoopStarting";
    case TStartStep::LoopEnded: return "LoopEnded";
    case TStartStep::MainFormDestroyed: return "MainFormDestroyed";
    case TStartStep::ParamFormDestroyed: return "ParamFormDestroyed";
    case TStartStep::PromptFormDestroyed: return "PromptFormDestroyed";
    case TStartStep::IdentifierFormDestroyed: return "IdentifierFormDestroyed";
    case TStartStep::ContextDestroyed: return "ContextDestroyed";
    case TStartStep::PortDestroyed: return "PortDestroyed";
    case TStartStep::LogDestroyed: return "LogDestroyed";
  }
  return "?";
}

bool ParseStartOptions(int argc, char** argv, TStartOptions& options, std::string& error) {
  if (const char* dir = std::getenv("DLT645_CONFIG_DIR"); dir && *dir) options.ConfigDir = dir;
  if (const char* probe = std::getenv("DLT645_STARTUP_PROBE"); probe && *probe) options.Probe = probe;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--config-dir") {
      if (i + 1 >= argc) {
        error = "--config-dir后面应给出一个文件夹！";
        return false;
      }
      options.ConfigDir = argv[++i];
    } else if (arg.rfind("--config-dir=", 0) == 0) {
      options.ConfigDir = arg.substr(13);
    } else if (arg == "--help" || arg == "-h") {
      options.Help = true;
    } else if (arg == "--version" || arg == "-V") {
      options.Version = true;
    } else if (arg.rfind("-", 0) == 0 && arg.rfind("-platform", 0) != 0 && arg.rfind("-style", 0) != 0) {
      error = "未知选项" + arg + "（参见--help）！";
      return false;
    }
  }
  if (options.Probe != "" && options.Probe != "quit" && options.Probe != "open") {
    error = "DLT645_STARTUP_PROBE只能是quit或open！";
    return false;
  }
  return true;
}

const char* StartUsage() {
  return "用法：dlt645-workbench [--config-dir DIR]\n"
         "通过串口测试DL/T 645-2007多功能电能表。\n"
         "\n"
         "  --config-dir DIR  Setup.ini、logtype.ini和log/文件夹都放在DIR中；不给出时，程序所在\n"
         "                    文件夹可写且不是bin文件夹则放在程序旁边，否则Setup.ini和logtype.ini\n"
         "                    放在~/.config/dlt645-workbench，log/放在~/.local/state/dlt645-workbench\n"
         "  -h, --help        显示本帮助后退出\n"
         "  -V, --version     显示版本后退出\n"
         "\n"
         "环境变量：\n"
         "  DLT645_CONFIG_DIR  未给出--config-dir时，作为它的文件夹\n"
         "  DLT645_LOCK_DIR    打开串口时UUCP锁文件所在的文件夹（默认/var/lock和/run/lock）\n"
         "\n"
         "Qt自身的选项（-platform、-style）照常传给Qt。\n";
}

const char* StartVersion() { return "dlt645-workbench " DLT_VERSION "\n"; }

namespace {

// Milliseconds since the kernel started this process (10 ms resolution), or -1.
long ProcessAgeMs() {
  std::ifstream stat("/proc/self/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::size_t pos = close + 2;
  // Field 22 (starttime) counted from field 3, the one after the command name.
  for (int field = 3; field < 22 && pos != std::string::npos; ++field) pos = text.find(' ', pos) + 1;
  const double startTicks = std::strtod(text.c_str() + pos, nullptr);
  std::ifstream uptimeFile("/proc/uptime");
  double uptime = 0;
  if (!(uptimeFile >> uptime)) return -1;
  return static_cast<long>((uptime - startTicks / double(sysconf(_SC_CLK_TCK))) * 1000.0);
}

// Closes the program when the main window is closed, and watches for the first showing of the
// parameter dialog when a start-up probe was asked for.
class TLifeWatcher : public QObject {
 public:
  TLifeWatcher(TMainForm* main, TParamForm* param, const TStartOptions& options)
      : Main(main), Param(param), Options(options) {
    Main->installEventFilter(this);
    if (!Options.Probe.empty()) Param->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == Main && event->type() == QEvent::Close) {
      QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    } else if (watched == Param && event->type() == QEvent::Show && !Reported) {
      Reported = true;
      const auto sinceMain = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now() - Options.MainEntered);
      std::printf("parameter dialog shown: %ld ms after process start, %ld ms after main()\n",
                  ProcessAgeMs(), static_cast<long>(sinceMain.count()));
      std::fflush(stdout);
      QPointer<TMainForm> main = Main;
      QPointer<TParamForm> param = Param;
      if (Options.Probe == "quit") {
        QTimer::singleShot(0, Param, [param, main] {
          param->reject();
          QTimer::singleShot(0, main, [main] { main->close(); });
        });
      } else {
        QTimer::singleShot(0, Param, [param] { param->rbbOpenCom->click(); });
      }
    }
    return false;
  }

 private:
  TMainForm* Main;
  TParamForm* Param;
  const TStartOptions& Options;
  bool Reported = false;
};

// Ends every event loop on SIGINT, SIGTERM or SIGHUP, so that Ctrl-C in the terminal that
// started the workbench still takes the program down in order: the channel stopped, the port
// closed, the sending thread joined, the log closed last. The handler only writes a byte to a
// pipe; the window thread reads it and quits.
class TQuitOnSignals {
 public:
  TQuitOnSignals() {
    if (::pipe2(Fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    WriteFd.store(Fds[1]);
    Notifier = std::make_unique<QSocketNotifier>(Fds[0], QSocketNotifier::Read);
    QObject::connect(Notifier.get(), &QSocketNotifier::activated, [this] {
      char drain[16];
      while (::read(Fds[0], drain, sizeof drain) > 0) {
      }
      LogEntry(ltNormal, "TStartUp.RunApplication", "收到结束信号，程序退出。");
      QCoreApplication::exit(0);  // nested loops of modal dialogs end too
    });
    struct sigaction action {};
    action.sa_handler = &TQuitOnSignals::Handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &action, &Previous[i]);
  }
  ~TQuitOnSignals() {
    if (Fds[0] < 0) return;
    for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &Previous[i], nullptr);
    WriteFd.store(-1);
    Notifier.reset();
    ::close(Fds[0]);
    ::close(Fds[1]);
  }
  TQuitOnSignals(const TQuitOnSignals&) = delete;
  TQuitOnSignals& operator=(const TQuitOnSignals&) = delete;

 private:
  static void Handler(int) {
    const int fd = WriteFd.load();
    if (fd < 0) return;
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(fd, &byte, 1);
  }

  static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
  static inline std::atomic<int> WriteFd{-1};
  int Fds[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> Notifier;
  struct sigaction Previous[std::size(kSignals)] {};
};

void Report(const TStartOptions& options, const std::string& text) {
  LogEntry(ltException, "TStartUp.RunApplication", text);
  std::fprintf(stderr, "dlt645-workbench: %s\n", text.c_str());
  if (options.ShowErrors && qApp) QMessageBox::critical(nullptr, AppTitleText(), QString::fromStdString(text));
}

}  // namespace

QTranslator* InstallQtTranslations() {
  static QPointer<QTranslator> installed;  // once per application, however often start-up runs
  if (installed) return installed;
  auto translator = std::make_unique<QTranslator>(qApp);
  if (!translator->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    LogEntry(ltException, "TStartUp.InstallQtTranslations", "未找到Qt的中文翻译qtbase_zh_CN，Qt自带的对话框将显示英文。");
    return nullptr;
  }
  QCoreApplication::installTranslator(translator.get());
  installed = translator.release();
  return installed;
}

namespace {

using TStep = std::function<void(TStartStep)>;

// The application object's process-wide look: font, icon, names, Qt's own texts in Chinese.
void InitApplication() {
  InstallQtTranslations();
  QApplication::setFont(BaseFont());
  QApplication::setWindowIcon(AppIcon());
  // Not the display name: the platform would append it to every window caption.
  QApplication::setApplicationName(QStringLiteral("dlt645-workbench"));
  // Ties the windows to the installed desktop entry (its name and icon in docks and task lists).
  QApplication::setDesktopFileName(QStringLiteral("dlt645-workbench"));
}

void SetProcessFormats() {
  TDateTimeFormats formats;
  formats.DateSeparator = QLatin1Char('-');
  formats.ShortDate = formats.LongDate = QStringLiteral("yyyy-MM-dd");
  formats.ShortTime = formats.LongTime = QStringLiteral("hh:mm:ss");
  SetDateTimeFormats(formats);
}

// The windows made at start-up and kept to the end, made and freed in their fixed order.
struct TStartWindows {
  std::unique_ptr<TMainForm> Main;
  std::unique_ptr<TParamForm> Param;
  std::unique_ptr<TPromptForm> Prompt;
  std::unique_ptr<TIdentifierDltForm> Identifier;

  // Empty on success, else why a window could not be created.
  std::string Create(TTransport& port, TSingleton& context, const TStep& step) {
    try {
      Main = std::make_unique<TMainForm>(*context.Param, context.Channel.get());
      step(TStartStep::MainFormCreated);
      Param = std::make_unique<TParamForm>(port, *context.Param, context.Channel.get());
      Main->ParamForm = Param.get();
      step(TStartStep::ParamFormCreated);
      Prompt = std::make_unique<TPromptForm>();
      PromptForm = Prompt.get();
      step(TStartStep::PromptFormCreated);
      Identifier = std::make_unique<TIdentifierDltForm>();
      IdentifierDltForm = Identifier.get();
      step(TStartStep::IdentifierFormCreated);
    } catch (const std::exception& e) {
      return std::string("无法创建窗口：") + e.what();
    } catch (...) {
      return "无法创建窗口！";
    }
    return {};
  }

  // The main window first: it tells the channel to stop; then the dialog that closes the port.
  void Destroy(const TStep& step) {
    FreeWindow(Main, TStartStep::MainFormDestroyed, step);
    FreeWindow(Param, TStartStep::ParamFormDestroyed, step);
    FreeWindow(Prompt, TStartStep::PromptFormDestroyed, step);
    PromptForm = nullptr;
    FreeWindow(Identifier, TStartStep::IdentifierFormDestroyed, step);
    IdentifierDltForm = nullptr;
  }

  template <class T>
  static void FreeWindow(std::unique_ptr<T>& window, TStartStep done, const TStep& step) {
    if (!window) return;
    window.reset();
    step(done);
  }
};

int RunMessageLoop(TStartWindows& windows, const TStartOptions& options, const TStep& step) {
  TLifeWatcher watcher(windows.Main.get(), windows.Param.get(), options);
  TQuitOnSignals quitOnSignals;
  windows.Main->show();
  step(TStartStep::LoopStarting);
  const int result = QApplication::exec();
  step(TStartStep::LoopEnded);
  return result;
}

}  // namespace

int RunApplication(int& argc, char** argv, const TStartOptions& options, const TStartUpHooks& hooks) {
  const TStep step = [&hooks](TStartStep s) {
    if (hooks.OnStep) hooks.OnStep(s);
  };
  const std::string exeFolder = options.ExecutableFolder.empty() ? ExecutableFolder() : options.ExecutableFolder;
  const std::string settingsFolder = options.ConfigDir.empty() ? SettingsFolderFor(exeFolder) : options.ConfigDir;
  const std::string logFolder = options.ConfigDir.empty() ? LogFolderParentFor(exeFolder) : options.ConfigDir;
  if (!options.ConfigDir.empty()) MakeFolders(options.ConfigDir);

  // 1. The log, first, so that everything after it can write to it. Its type selection
  // "logtype.ini" lies beside "Setup.ini", wherever the log files go.
  auto log = std::make_unique<TLog>(logFolder, settingsFolder);
  LogEntry(ltNormal, "TStartUp.RunApplication", "DLT645 Workbench " DLT_VERSION " 启动。");
  step(TStartStep::LogCreated);
  // 2. No serial control needs registering here. 3. The one shared serial port.
  auto port = std::make_unique<TPortLink>();
  step(TStartStep::PortCreated);
  // 4. The application context: settings loaded, channel created, sending thread running.
  auto context = std::make_unique<TSingleton>(settingsFolder);
  Singleton = context.get();
  step(TStartStep::ContextCreated);
  // 5. The application object.
  std::unique_ptr<QApplication> ownApp;
  if (!QCoreApplication::instance()) ownApp = std::make_unique<QApplication>(argc, argv);
  InitApplication();
  step(TStartStep::AppInitialised);
  // 6. The splash window, painted at once.
  auto splash = std::make_unique<TSplashForm>();
  splash->ShowAndPaint();
  QApplication::processEvents();
  step(TStartStep::SplashShown);
  // 7. Date and time formats of the whole process.
  SetProcessFormats();
  step(TStartStep::FormatsSet);
  // 8. The windows, the main window first.
  TStartWindows windows;
  const std::string failure = windows.Create(*port, *context, step);
  // 9. The splash goes, whether or not every window was created.
  splash.reset();
  step(TStartStep::SplashDestroyed);
  // 10. The message loop, until the main window is closed.
  int result = 1;
  if (failure.empty()) {
    result = RunMessageLoop(windows, options, step);
  } else {
    Report(options, failure);
  }

  // The end, in order: the channel told to stop, the port closed, the thread joined, then the
  // channel, the settings and, after everything that writes to it, the log.
  windows.Destroy(step);
  ownApp.reset();
  context.reset();
  Singleton = nullptr;
  step(TStartStep::ContextDestroyed);
  port.reset();
  step(TStartStep::PortDestroyed);
  LogEntry(ltNormal, "TStartUp.RunApplication", "DLT645 Workbench 退出。");
  log.reset();
  step(TStartStep::LogDestroyed);
  return result;
}
