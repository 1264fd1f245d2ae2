// The start-up sequence and the orderly end, checked by what exists at each step.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QTranslator>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <map>

#include "PtyUtil.h"
#include "UiTestUtil.h"
#include "cli/RunProcess.h"
#include "comm/Channel.h"
#include "services/Log.h"
#include "services/SingletonUnit.h"
#include "services/TextCodec.h"
#include "ui/MainFrm.h"
#include "ui/ParamFrm.h"
#include "ui/IdentifierDlt.h"
#include "ui/Prompt.h"
#include "ui/Splash.h"
#include "ui/StartUp.h"

namespace {

bool SplashVisible() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (qobject_cast<TSplashForm*>(w) && w->isVisible()) return true;
  return false;
}
bool SplashExists() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (qobject_cast<TSplashForm*>(w)) return true;
  return false;
}
TMainForm* FindMain() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* m = qobject_cast<TMainForm*>(w)) return m;
  return nullptr;
}
std::string LogText(const QString& folder) {
  std::string all;
  for (const QFileInfo& f : QDir(folder + "/log").entryInfoList(QDir::Files)) {
    QFile file(f.filePath());
    if (file.open(QIODevice::ReadOnly)) all += file.readAll().toStdString();
  }
  return all;
}

// Runs the whole program with its files in `dir` and no message boxes.
int RunIn(const QTemporaryDir& dir, const TStartUpHooks& hooks) {
  TStartOptions options;
  options.ConfigDir = dir.path().toStdString();
  options.ShowErrors = false;
  int argc = 1;
  char name[] = "dlt645-workbench";
  char* argv[] = {name, nullptr};
  return RunApplication(argc, argv, options, hooks);
}

}  // namespace

TEST(StartUp, OrderOfStepsAsSeenFromOutside) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  std::ofstream(dir.filePath("Setup.ini").toStdString(), std::ios::binary)
      << "[DLTPARAMETER]\r\nPSW=11112222\r\n";
  TTestPty pty;
  ASSERT_TRUE(pty.Valid());

  std::vector<std::string> steps;
  std::map<std::string, bool> seen;  // observations at the steps
  std::unique_ptr<QTimer> closer;
  int entriesWhileDialog = -1;
  bool timerWhileDialog = true;
  bool controlBeforeDialog = true;
  QString portPane;

  TStartUpHooks hooks;
  hooks.OnStep = [&](TStartStep step) {
    const std::string name = StartStepName(step);
    steps.push_back(name);
    switch (step) {
      case TStartStep::LogCreated:
        seen["log before context"] = Logger != nullptr && Singleton == nullptr &&
                                     LogText(dir.path()).find(Utf8ToGbk("启动")) != std::string::npos;
        break;
      case TStartStep::ContextCreated:
        seen["context loaded settings"] = Singleton && Singleton->Param->Psw == "11112222" && Logger;
        seen["no splash before context"] = !SplashExists();
        controlBeforeDialog = Singleton && Singleton->Channel->Control() != nullptr;
        break;
      case TStartStep::MainFormCreated:
      case TStartStep::ParamFormCreated:
      case TStartStep::PromptFormCreated:
      case TStartStep::IdentifierFormCreated:
        seen["splash while " + name] = SplashVisible();
        break;
      case TStartStep::SplashDestroyed:
        seen["splash gone"] = !SplashExists();
        seen["prompt box installed"] = PromptForm != nullptr;
        seen["picker installed"] = IdentifierDltForm != nullptr;
        break;
      case TStartStep::LoopStarting: {
        TMainForm* main = FindMain();
        seen["main window shown, no splash"] = main && main->isVisible() && !SplashExists();
        // Close the main window once it is prepared.
        closer = std::make_unique<QTimer>();
        closer->setInterval(5);
        QObject::connect(closer.get(), &QTimer::timeout, [&] {
          TMainForm* m = FindMain();
          if (m && m->Timer->isActive() && !QApplication::activeModalWidget()) {
            closer->stop();
            portPane = m->sbComStat->text();
            m->bbtExit->click();
          }
        });
        closer->start();
        break;
      }
      case TStartStep::MainFormDestroyed:
        seen["stop request, port still open"] =
            Singleton && Singleton->Channel->GetStopRequest() && Singleton->Channel->Control() &&
            Singleton->Channel->Control()->PortOpen();
        break;
      case TStartStep::ParamFormDestroyed:
        seen["port closed by the dialog"] = Singleton && !Singleton->Channel->Control()->PortOpen();
        break;
      case TStartStep::ContextDestroyed:
        seen["context gone, log still there"] = Singleton == nullptr && Logger != nullptr;
        break;
      case TStartStep::LogDestroyed:
        seen["log gone"] = Logger == nullptr;
        break;
      default:
        break;
    }
  };

  // The parameter dialog comes first, before the main window's fields are prepared; here the
  // user opens the pseudo-terminal in it.
  TModalAnswer answer([&](QWidget* modal) {
    auto* param = qobject_cast<TParamForm*>(modal);
    ASSERT_NE(param, nullptr);
    TMainForm* main = FindMain();
    entriesWhileDialog = main ? main->cmbCtrl->count() : -2;
    timerWhileDialog = main ? main->Timer->isActive() : true;
    param->cbPort->setEditText(QString::fromStdString(pty.Slave));
    param->rbbOpenCom->click();
  });

  const int rc = RunIn(dir, hooks);

  EXPECT_EQ(rc, 0);
  const std::vector<std::string> expected = {
      "LogCreated",          "PortCreated",         "ContextCreated",        "AppInitialised",
      "SplashShown",         "FormatsSet",          "MainFormCreated",       "ParamFormCreated",
      "PromptFormCreated",   "IdentifierFormCreated", "SplashDestroyed",     "LoopStarting",
      "LoopEnded",           "MainFormDestroyed",   "ParamFormDestroyed",    "PromptFormDestroyed",
      "IdentifierFormDestroyed", "ContextDestroyed", "PortDestroyed",        "LogDestroyed"};
  EXPECT_EQ(steps, expected);
  for (const auto& [what, ok] : seen) EXPECT_TRUE(ok) << what;
  EXPECT_EQ(seen.size(), 15u);  // every observation was made
  EXPECT_TRUE(answer.Fired());
  EXPECT_FALSE(controlBeforeDialog);  // the channel gets the port when the dialog is first shown
  EXPECT_EQ(entriesWhileDialog, 0);
  EXPECT_FALSE(timerWhileDialog);
  EXPECT_EQ(portPane.toStdString(), pty.Slave);
  EXPECT_EQ(PromptForm, nullptr);
  EXPECT_EQ(IdentifierDltForm, nullptr);
  EXPECT_EQ(Singleton, nullptr);
  const std::string log = LogText(dir.path());
  const std::size_t started = log.find(Utf8ToGbk("启动")), ended = log.find(Utf8ToGbk("退出"));
  EXPECT_NE(started, std::string::npos);
  EXPECT_NE(ended, std::string::npos);
  EXPECT_LT(started, ended);
  // The settings written by the dialog when it opened the port.
  QFile setup(dir.filePath("Setup.ini"));
  ASSERT_TRUE(setup.open(QIODevice::ReadOnly));
  EXPECT_TRUE(setup.readAll().contains(QByteArray::fromStdString("SERIAL_PORT=" + pty.Slave + "\r\n")));
}

// A window that cannot be created: the splash still goes, nothing runs, everything made so far
// is taken down in order, and the reason is logged.
TEST(StartUp, WindowThatFailsToBeCreated) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  std::vector<std::string> steps;
  bool splashGone = false;
  TStartUpHooks hooks;
  hooks.OnStep = [&](TStartStep step) {
    steps.push_back(StartStepName(step));
    if (step == TStartStep::ParamFormCreated) throw std::runtime_error("out of window handles");
    if (step == TStartStep::SplashDestroyed) splashGone = !SplashExists();
  };
  EXPECT_NE(RunIn(dir, hooks), 0);
  const std::vector<std::string> expected = {
      "LogCreated",      "PortCreated",       "ContextCreated",     "AppInitialised", "SplashShown", "FormatsSet",
      "MainFormCreated", "ParamFormCreated",  "SplashDestroyed",    "MainFormDestroyed", "ParamFormDestroyed",
      "ContextDestroyed", "PortDestroyed",    "LogDestroyed"};
  EXPECT_EQ(steps, expected);
  EXPECT_TRUE(splashGone);
  EXPECT_EQ(FindMain(), nullptr);
  EXPECT_EQ(Singleton, nullptr);
  EXPECT_NE(LogText(dir.path()).find(Utf8ToGbk("无法创建窗口：out of window handles")), std::string::npos);
}

// Qt's own windows speak Chinese once start-up has installed Qt's translation: the standard
// buttons, and the buttons of the file dialog in which a message file is saved.
TEST(StartUp, QtsOwnTextsAreChinese) {
  QTranslator* translator = InstallQtTranslations();
  ASSERT_NE(translator, nullptr) << "qt6-translations-l10n is not installed";
  auto words = [](QString text) { return text.remove(QRegularExpression(QStringLiteral("\\(&.\\)|&"))); };
  QDialogButtonBox box(QDialogButtonBox::Save | QDialogButtonBox::Cancel);
  EXPECT_EQ(words(box.button(QDialogButtonBox::Save)->text()), QStringLiteral("保存"));
  EXPECT_EQ(words(box.button(QDialogButtonBox::Cancel)->text()), QStringLiteral("取消"));
  QFileDialog dialog;
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  auto* buttons = dialog.findChild<QDialogButtonBox*>();
  ASSERT_NE(buttons, nullptr);
  QStringList texts;
  for (QAbstractButton* button : buttons->buttons()) texts << words(button->text());
  texts.sort();
  EXPECT_EQ(texts, (QStringList{QStringLiteral("保存"), QStringLiteral("取消")}));
  QCoreApplication::removeTranslator(translator);
  delete translator;
}

// Where the executable's folder cannot hold the program's files, "logtype.ini" is read beside
// the user's "Setup.ini", not from the folder of the log files.
TEST(StartUp, LogTypesAreReadBesideTheSettings) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString settings = dir.filePath("config/dlt645-workbench"), logs = dir.filePath("state/dlt645-workbench");
  ASSERT_TRUE(QDir().mkpath(settings) && QDir().mkpath(logs));
  std::ofstream((settings + "/logtype.ini").toStdString(), std::ios::binary) << "[LOG]\r\nLogContent=1\r\n";
  std::ofstream((logs + "/logtype.ini").toStdString(), std::ios::binary) << "[LOG]\r\nLogContent=0\r\n";
  const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME"), oldState = qgetenv("XDG_STATE_HOME");
  qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
  qputenv("XDG_STATE_HOME", dir.filePath("state").toUtf8());
  TStartOptions options;
  options.ExecutableFolder = dir.filePath("not-a-folder").toStdString();
  options.ShowErrors = false;
  TStartUpHooks hooks;
  hooks.OnStep = [](TStartStep step) {
    if (step == TStartStep::MainFormCreated) throw std::runtime_error("enough");
  };
  int argc = 1;
  char name[] = "dlt645-workbench";
  char* argv[] = {name, nullptr};
  RunApplication(argc, argv, options, hooks);
  oldConfig.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", oldConfig);
  oldState.isNull() ? qunsetenv("XDG_STATE_HOME") : qputenv("XDG_STATE_HOME", oldState);
  EXPECT_NE(LogText(logs).find(Utf8ToGbk("启动")), std::string::npos);  // type 1, chosen beside Setup.ini
}

// "--help" and "--version" answer and end the program at once; an unknown option is refused.
TEST(StartUp, HelpAndVersionFromTheCommandLine) {
  const struct {
    const char* Arg;
    int ExitCode;
    const char* Says;
  } cases[] = {
      {"--help", 0, "--config-dir DIR"},  {"-h", 0, "DLT645_CONFIG_DIR"},
      {"--version", 0, "dlt645-workbench " DLT_VERSION "\n"}, {"-V", 0, DLT_VERSION},
      {"--bogus", 2, ""},
  };
  for (const auto& c : cases) {
    const TProcessResult r = RunProcess({DLT645_WORKBENCH_BIN, c.Arg});
    EXPECT_EQ(r.ExitCode, c.ExitCode) << c.Arg << ": " << r.Err;
    EXPECT_NE(r.Out.find(c.Says), std::string::npos) << c.Arg << ": " << r.Out;
  }
}

TEST(StartUp, Options) {
  unsetenv("DLT645_CONFIG_DIR");
  unsetenv("DLT645_STARTUP_PROBE");
  char prog[] = "w", opt[] = "--config-dir", dirArg[] = "/tmp/a", eq[] = "--config-dir=/tmp/b", bad[] = "--bogus";
  {
    char* argv[] = {prog, opt, dirArg, nullptr};
    TStartOptions o;
    std::string error;
    EXPECT_TRUE(ParseStartOptions(3, argv, o, error));
    EXPECT_EQ(o.ConfigDir, "/tmp/a");
  }
  {
    char* argv[] = {prog, eq, nullptr};
    TStartOptions o;
    std::string error;
    EXPECT_TRUE(ParseStartOptions(2, argv, o, error));
    EXPECT_EQ(o.ConfigDir, "/tmp/b");
  }
  {
    char* argv[] = {prog, opt, nullptr};
    TStartOptions o;
    std::string error;
    EXPECT_FALSE(ParseStartOptions(2, argv, o, error));
    EXPECT_FALSE(error.empty());
  }
  {
    char* argv[] = {prog, bad, nullptr};
    TStartOptions o;
    std::string error;
    EXPECT_FALSE(ParseStartOptions(2, argv, o, error));
  }
  {
    setenv("DLT645_CONFIG_DIR", "/tmp/c", 1);
    setenv("DLT645_STARTUP_PROBE", "quit", 1);
    char* argv[] = {prog, nullptr};
    TStartOptions o;
    std::string error;
    EXPECT_TRUE(ParseStartOptions(1, argv, o, error));
    EXPECT_EQ(o.ConfigDir, "/tmp/c");
    EXPECT_EQ(o.Probe, "quit");
    setenv("DLT645_STARTUP_PROBE", "maybe", 1);
    EXPECT_FALSE(ParseStartOptions(1, argv, o, error));
    unsetenv("DLT645_CONFIG_DIR");
    unsetenv("DLT645_STARTUP_PROBE");
  }
}

// Ctrl-C (or SIGTERM) from the terminal that started the workbench, even while the parameter
// dialog is shown modally: the loops end and the program goes down in order, port closed and
// thread joined before the log.
TEST(StartUp, SignalEndsTheProgramInOrder) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  TTestPty pty;
  ASSERT_TRUE(pty.Valid());
  std::vector<std::string> steps;
  bool portClosedByDialog = false;
  TStartUpHooks hooks;
  hooks.OnStep = [&](TStartStep step) {
    steps.push_back(StartStepName(step));
    if (step == TStartStep::ParamFormDestroyed)
      portClosedByDialog = Singleton && !Singleton->Channel->Control()->PortOpen();
  };
  // In the modal parameter dialog the user opens the port; the signal arrives while the dialog
  // is shown again from the menu.
  TModalAnswer answer([&](QWidget* modal) {
    auto* param = qobject_cast<TParamForm*>(modal);
    ASSERT_NE(param, nullptr);
    param->cbPort->setEditText(QString::fromStdString(pty.Slave));
    param->rbbOpenCom->click();
    QTimer::singleShot(0, [] {
      TMainForm* m = FindMain();
      if (!m) return;
      QTimer::singleShot(20, [] { std::raise(SIGTERM); });
      m->NBaseParamClick();
    });
  });
  EXPECT_EQ(RunIn(dir, hooks), 0);
  ASSERT_GE(steps.size(), 4u);
  const std::vector<std::string> tail(steps.end() - 8, steps.end());
  const std::vector<std::string> expected = {"LoopEnded",        "MainFormDestroyed", "ParamFormDestroyed",
                                             "PromptFormDestroyed", "IdentifierFormDestroyed",
                                             "ContextDestroyed", "PortDestroyed", "LogDestroyed"};
  EXPECT_EQ(tail, expected);
  EXPECT_TRUE(portClosedByDialog);
  EXPECT_TRUE(answer.Fired());
  EXPECT_NE(LogText(dir.path()).find(Utf8ToGbk("收到结束信号，程序退出。")), std::string::npos);
}
