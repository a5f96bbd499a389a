// The log view of the Qt front end with the log of a whole hardware-ID search: 150 identifiers
// times 10,000 INF files, about 1.5 million lines, appended as the search appends them (one
// block per identifier, the window serviced after each), then scrolled to random places.
//
//   QT_QPA_PLATFORM=offscreen log_view_compare [blocks=150] [lines per block=10000]
//
// Prints the slowest and the median time of one append with its repaint, and of one scroll
// step with its repaint: the view stays responsive when both stay well below 100 ms.
#include <QAbstractScrollArea>
#include <QApplication>
#include <QScrollBar>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "app/main_form.h"
#include "ui/qt/form_renderer.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void Report(const char* what, std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  std::printf("%s: median %.1f ms, slowest %.1f ms (%zu steps)\n", what, ms[ms.size() / 2], ms.back(),
              ms.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const int blocks = argc > 1 ? std::atoi(argv[1]) : 150;
  const int perBlock = argc > 2 ? std::atoi(argv[2]) : 10000;
  QApplication app(argc, argv);

  FormModel form("Mainfrm");
  Control page;
  page.name = "Mainfrm";
  page.kind = ControlKind::Form;
  page.width = 800;
  page.height = 600;
  form.Add(std::move(page));
  Control log;
  log.name = "LogLbx";
  log.kind = ControlKind::UnicodeListBox;
  log.parent = "Mainfrm";
  log.align = "client";
  form.Add(std::move(log));
  FormRenderer renderer(form, [](const std::string&) {});
  renderer.ShowWindow();
  QApplication::processEvents();
  auto* view = qobject_cast<QAbstractScrollArea*>(renderer.Widget("LogLbx"));

  std::vector<double> appends;
  std::vector<std::string> block(static_cast<std::size_t>(perBlock));
  const auto whole = Clock::now();
  for (int b = 0; b < blocks; ++b) {
    for (int k = 0; k < perBlock; ++k) {
      block[static_cast<std::size_t>(k)] =
          "[10.12.2026 14.02.11] HWID search [PCI\\VEN_8086&DEV_1C3A]:/home/user/.local/"
          "share/velmora/dp_tavi/D/C/Intel/" +
          std::to_string(b) + "/" + std::to_string(k) + ".inf";
    }
    const auto start = Clock::now();
    form.AppendItems("LogLbx", block);
    QApplication::processEvents();
    if (view != nullptr) view->viewport()->repaint();
    appends.push_back(Ms(start));
  }
  const double total = Ms(whole) / 1000.0;

  std::vector<double> scrolls;
  if (view != nullptr) {
    std::mt19937 random(1);
    QScrollBar* bar = view->verticalScrollBar();
    for (int i = 0; i < 200; ++i) {
      const auto start = Clock::now();
      bar->setValue(static_cast<int>(random() % static_cast<unsigned>(std::max(1, bar->maximum()))));
      QApplication::processEvents();
      view->viewport()->repaint();
      scrolls.push_back(Ms(start));
    }
  }
  std::printf("%zu lines in the log after %.2f s\n", form.Items("LogLbx").size(), total);
  Report("append a block and repaint", appends);
  if (!scrolls.empty()) Report("scroll to a random line and repaint", scrolls);
  return 0;
}
