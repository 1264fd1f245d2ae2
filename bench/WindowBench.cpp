// Main window figures, the window offscreen against the virtual meter on a pseudo-terminal:
//   shown      from the meter's last reply byte written to the reply row added on the window thread
//   lateness   lateness of a 10 ms timer on the window thread while read commands go back to back
//              (each Send pressed as soon as the previous reply row is shown); every reply row counted
//   memory     resident size after 1,000 and after N exchanges (the grids are bounded)
//   idle       CPU time of the idle window with the port open, as a share of the wall time
// Usage: bench_WindowBench [--shown N] [--lateness N] [--memory N] [--idle SEC]
// (defaults 1000, 5000, 100000, 30; 0 skips a figure). Not run by ctest.
#include <sys/resource.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "bench/BenchStats.h"
#include "comm/Channel.h"
#include "comm/SerialPort.h"
#include "protocol/Compose.h"
#include "protocol/SendCycle.h"
#include "services/Log.h"
#include "services/SingletonUnit.h"
#include "sim/VirtualMeter.h"
#include "ui/Controls.h"
#include "ui/MainFrm.h"

namespace {
using Clock = std::chrono::steady_clock;

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + 1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

// Runs the event loop until `done` holds, sleeping while there is nothing to do.
void Pump(const std::function<bool()>& done) {
  while (!done()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

struct TRig {
  QTemporaryDir Dir;
  std::unique_ptr<TLog> Log;
  TVirtualMeter Meter{TMeterOptions{}};
  TSerialPort Port;
  std::unique_ptr<TDltParam> Param;
  std::unique_ptr<TChannel> Channel;
  std::unique_ptr<TMainForm> Main;
  long Replies = 0;
  Clock::time_point LastShown;

  bool Start() {
    std::string error;
    Log = std::make_unique<TLog>(Dir.path().toStdString());
    if (!Meter.Start(error) || Port.Open(Meter.PortPath(), "9600,E,8,1", 1, error) != 0) {
      std::fprintf(stderr, "set-up failed: %s\n", error.c_str());
      return false;
    }
    Param = std::make_unique<TDltParam>(Dir.path().toStdString());
    Param->SetPreamble({true, "FE", 4});
    Channel = std::make_unique<TChannel>([this] { return Param->GetPreamble(); });
    Channel->Init();
    Channel->SetControl(&Port);
    Channel->Start();
    Main = std::make_unique<TMainForm>(*Param, Channel.get());
    Main->setWindowState(Qt::WindowNoState);
    Main->resize(1100, 620);
    Main->show();
    Pump([&] { return Main->Timer->isActive(); });
    // A reply row is counted the moment the grid gets it, on the window thread.
    const QString received = QString::fromUtf8(SendTexts::FlagReceived);
    QObject::connect(Main->dxTLMsg->model(), &QAbstractItemModel::rowsInserted, Main.get(),
                     [this, received](const QModelIndex&, int first, int) {
                       if (Main->dxTLMsg->topLevelItem(first)->text(0) == received) {
                         LastShown = Clock::now();
                         ++Replies;
                       }
                     });
    Main->edtID->setText(QStringLiteral("000000000001"));
    Main->cmbCtrl->setCurrentIndex(0);  // read data
    Main->TimerTimer();
    Main->edtDS->setText(QStringLiteral("02010100"));
    Main->TimerTimer();
    return Main->bbtSend->isEnabled();
  }
  ~TRig() {
    Main.reset();
    if (Channel) Channel->Shutdown();
  }
  // One exchange: Send, then events until its reply row is shown.
  void Exchange() {
    const long before = Replies;
    Main->bbtSendClick();
    Pump([&] { return Replies > before; });
  }
};

void Shown(int n) {
  TRig rig;
  if (!rig.Start()) return;
  std::vector<double> ms;
  for (int i = 0; i < n; ++i) {
    rig.Exchange();
    while (rig.Meter.RepliesSent() < i + 1) QApplication::processEvents();
    ms.push_back(std::max(0.0, std::chrono::duration<double, std::milli>(rig.LastShown - rig.Meter.LastReplyWritten()).count()));
  }
  std::printf("reply shown (last reply byte written -> reply row added on the window thread), %d reads: "
              "median %.3f ms, p99 %.3f ms, max %.3f ms\n",
              n, Percentile(ms, 0.5), Percentile(ms, 0.99), Percentile(ms, 1.0));
}

void Lateness(int n) {
  TRig rig;
  if (!rig.Start()) return;
  std::vector<double> late;
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  tick.setInterval(10);
  Clock::time_point last = Clock::now();
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const Clock::time_point now = Clock::now();
    late.push_back(std::max(0.0, std::chrono::duration<double, std::milli>(now - last).count() - 10.0));
    last = now;
  });
  // Back to back: the next Send as soon as the previous reply row is there.
  long sent = 0;
  QObject::connect(rig.Main->dxTLMsg->model(), &QAbstractItemModel::rowsInserted, rig.Main.get(), [&] {
    if (rig.Replies == sent && sent < n) {
      ++sent;
      QTimer::singleShot(0, rig.Main.get(), [&] { rig.Main->bbtSendClick(); });
    }
  });
  const auto t0 = Clock::now();
  tick.start();
  last = Clock::now();
  ++sent;
  rig.Main->bbtSendClick();
  Pump([&] { return rig.Replies >= n; });
  tick.stop();
  const double s = std::chrono::duration<double>(Clock::now() - t0).count();
  std::printf("10 ms timer lateness while %d reads go back to back (%.1f s, %ld reply rows): "
              "median %.2f ms, p99 %.2f ms, max %.2f ms over %zu ticks\n",
              n, s, rig.Replies, Percentile(late, 0.5), Percentile(late, 0.99), Percentile(late, 1.0), late.size());
}

void Memory(int n) {
  TRig rig;
  if (!rig.Start()) return;
  for (int i = 0; i < 1000; ++i) {
    rig.Exchange();
    rig.Meter.ClearReceived();
  }
  const long rss1k = StatusKiB("VmRSS:");
  for (int i = 1000; i < n; ++i) {
    rig.Exchange();
    rig.Meter.ClearReceived();
  }
  const long rssN = StatusKiB("VmRSS:");
  std::printf("memory: VmRSS %ld KiB after 1000 exchanges, %ld KiB after %d (growth %ld KiB); rows %d, log rows %d\n",
              rss1k, rssN, n, rssN - rss1k, rig.Main->dxTLMsg->topLevelItemCount(),
              rig.Main->dxTLLog->topLevelItemCount());
}

void Idle(int seconds) {
  TRig rig;
  if (!rig.Start()) return;
  rig.Exchange();
  QElapsedTimer wall;
  wall.start();
  const double cpu0 = CpuSeconds();
  QEventLoop loop;
  QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
  loop.exec();
  const double cpu = CpuSeconds() - cpu0;
  std::printf("idle window, port open, %d s: CPU %.3f s = %.3f %% of one core\n", seconds, cpu,
              100.0 * cpu / (wall.elapsed() / 1000.0));
}

}  // namespace

int main(int argc, char** argv) {
  int shown = 1000, lateness = 5000, memory = 100000, idle = 30;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    const int v = std::atoi(argv[i + 1]);
    if (a == "--shown") shown = v;
    else if (a == "--lateness") lateness = v;
    else if (a == "--memory") memory = v;
    else if (a == "--idle") idle = v;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  if (shown > 0) Shown(shown);
  if (lateness > 0) Lateness(lateness);
  if (memory > 0) Memory(memory);
  if (idle > 0) Idle(idle);
  return 0;
}
