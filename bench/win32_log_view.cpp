// The log view of the Win32 front end with the log of a whole hardware-ID search: 150
// identifiers times 10,000 INF files, about 1.5 million lines, appended as the search appends
// them (one block per identifier, the window serviced after each), then scrolled to random
// places. The counterpart of log_view_compare for the Qt front end; run under Wine:
//
//   xvfb-run -a wine build/win32/velmora_win32_log_view.exe [blocks=150] [lines per block=10000]
//
// Prints the slowest and the median time of one append with its repaint, and of one scroll
// step with its repaint: the view stays responsive when both stay well below 100 ms.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "ui/win32/win32_renderer.h"

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

void Pump() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int blocks = argc > 1 ? std::atoi(argv[1]) : 150;
  const int perBlock = argc > 2 ? std::atoi(argv[2]) : 10000;

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
  log.look = ControlLook::DarkList;
  form.Add(std::move(log));
  win32ui::FormRenderer renderer(form, [](const std::string&) {});
  renderer.ShowWindow();
  Pump();
  HWND view = renderer.Handle("LogLbx");

  std::vector<double> appends;
  std::vector<std::string> block(static_cast<std::size_t>(perBlock));
  const auto whole = Clock::now();
  for (int b = 0; b < blocks; ++b) {
    for (int k = 0; k < perBlock; ++k) {
      block[static_cast<std::size_t>(k)] =
          "[10.12.2026 14.02.11] HWID search [PCI\\VEN_8086&DEV_1C3A]:C:\\WINDOWS\\dp_tavi\\D\\C\\Intel\\" +
          std::to_string(b) + "\\" + std::to_string(k) + ".inf";
    }
    const auto start = Clock::now();
    form.AppendItems("LogLbx", block);
    Pump();
    UpdateWindow(view);
    appends.push_back(Ms(start));
  }
  const double total = Ms(whole) / 1000.0;

  std::vector<double> scrolls;
  std::mt19937 random(1);
  const auto rows = static_cast<unsigned>(std::max<std::size_t>(1, form.Items("LogLbx").size()));
  for (int i = 0; i < 200; ++i) {
    const auto start = Clock::now();
    ListView_EnsureVisible(view, static_cast<int>(random() % rows), FALSE);
    Pump();
    UpdateWindow(view);
    scrolls.push_back(Ms(start));
  }
  std::printf("%zu lines in the log after %.2f s\n", form.Items("LogLbx").size(), total);
  Report("append a block and repaint", appends);
  Report("scroll to a random line and repaint", scrolls);
  return 0;
}
