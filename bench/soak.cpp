// rilvano-soak [--pane-cap=UNITS] PORT SECONDS [SAMPLE_SECONDS]: the Qt
// window (offscreen unless told otherwise) open on PORT, its panes at UNITS
// if given, a click on "Чтение" every second, for SECONDS; then no more
// clicks, and once the line has been quiet for 3 s the port is closed.
// Prints the samples of bench/soak.h; scripts/soak runs it against the
// simulator and checks the log.
#include <time.h>

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "bench/soak.h"
#include "form/logfile.h"
#include "window/qt/QtView.h"

namespace {

double NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

long ResidentKb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace rilvano;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  soak::Options options;
  if (!soak::ParseArgs(argc, argv, options)) return 2;
  QApplication app(argc, argv);

  QtView w;
  if (options.paneCap > 0) w.SetPaneCap(options.paneCap);
  std::printf("pane-cap %zu\n", w.PaneCap());
  w.show();
  w.txt_0->setText(QString::fromStdString(options.port));
  w.form.BTNOpenCom_Click();
  if (!w.BTNCloseCom->isEnabled()) {
    std::fprintf(stderr, "rilvano-soak: could not open %s\n", options.port.c_str());
    return 1;
  }
  w.form.AppendPane(Control::Text8, soak::ReadPaneLines(w.PaneCap() - w.PaneCap() / 16));
  const std::string log = LogFileName(options.port);
  const double start = NowMs();
  const double end = start + options.seconds * 1e3;
  soak::Recorder recorder(start);
  // Pauses count while the line streams; after it the quiet line's ticks wait
  // for their read's time-out.
  QObject::connect(w.TMRComm, &QTimer::timeout, [&] {
    if (NowMs() < end) recorder.Tick(NowMs());
    recorder.Pane(static_cast<std::size_t>(w.Text2->document()->characterCount() - 1));
    recorder.ReadPane(static_cast<std::size_t>(w.Text8->document()->characterCount() - 1));
  });

  double nextClick = start;
  std::uintmax_t logBytes = 0;
  double lastGrowth = start;
  const auto sample = [&](double now) {
    recorder.Sample(now, options.sampleSeconds, ResidentKb(),
                    static_cast<std::size_t>(w.Text2->document()->characterCount() - 1), logBytes);
  };
  QTimer pace;
  QObject::connect(&pace, &QTimer::timeout, [&] {
    const double now = NowMs();
    if (now < end && now >= nextClick) {
      w.Command3->click();
      recorder.Click();
      recorder.ReadPane(static_cast<std::size_t>(w.Text8->document()->characterCount() - 1));
      nextClick += options.clickSeconds * 1e3;
    }
    const std::uintmax_t bytes = soak::FileBytes(log);
    if (bytes != logBytes) lastGrowth = now;
    logBytes = bytes;
    if (recorder.SampleDue(now)) sample(now);
    // The simulator's stream ends with the run: done once the line is drained.
    if (now >= end && now - lastGrowth > 3000) app.quit();
  });
  pace.start(50);
  app.exec();
  sample(NowMs());
  w.form.BTNCloseCom_Click();
  std::printf("done\n");
  return 0;
}
