#include "ui/qt/front_end.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/front_end_common.h"
#include "app/main_form.h"
#include "ui/qt/qt_ui_port.h"

namespace {

// Taken when the program is loaded; the fallback when the system cannot tell when the
// process started.
const auto kLoadTime = std::chrono::steady_clock::now();

bool EnvIs(const char* name, const char* value) {
  const char* text = std::getenv(name);
  return text != nullptr && std::string(text) == value;
}

std::string EnvText(const char* name) {
  const char* text = std::getenv(name);
  return text != nullptr ? std::string(text) : std::string();
}

// Process start from the kernel's process table: field 22 of /proc/self/stat, in clock
// ticks (USER_HZ, 100 per second) after boot, against /proc/uptime. -1 when unreadable.
long long MillisecondsFromProcTable() {
  std::ifstream statFile("/proc/self/stat");
  std::ifstream uptimeFile("/proc/uptime");
  std::string stat;
  double uptime = 0;
  if (!std::getline(statFile, stat) || !(uptimeFile >> uptime)) return -1;
  // The command name in parentheses may hold blanks: count fields after its closing one.
  const auto close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(stat.substr(close + 1));
  std::string field;
  // Fields after the name start with field 3 (state); the start time is field 22.
  for (int i = 3; i <= 22; ++i) {
    if (!(fields >> field)) return -1;
  }
  char* end = nullptr;
  const long long ticks = std::strtoll(field.c_str(), &end, 10);
  if (end == field.c_str() || ticks < 0) return -1;
  const long long ms = static_cast<long long>(uptime * 1000.0) - ticks * 10;
  return ms >= 0 ? ms : -1;
}

}  // namespace

FrontEnd::FrontEnd(TMainfrm& main, QtUiPort* dialogs) : mainForm_(main), dialogs_(dialogs) {
  main_ = std::make_unique<FormRenderer>(main.Form(),
                                         [&main](const std::string& handler) { main.Invoke(handler); });
  if (dialogs_ != nullptr) {
    dialogs_->SetMainWindow(main_->Window());
    dialogs_->SetUnattended(main.Unattended());
  }

  // Every progress window that exists now, and every fresh one an operation creates.
  const std::vector<FormModel*> forms = main.Forms();
  for (std::size_t i = 1; i < forms.size(); ++i) AddWaitRenderer(*forms[i]);
  QPointer<FrontEnd> self(this);
  main.OnNewWaitfrm([self](FormModel& form) {
    if (self) self->AddWaitRenderer(form);
  });

  // Closing the main window ends the program. The window's end handler runs once the event
  // loop is left, after any operation still running has returned (Finish).
  connect(main_->Window(), &FormWindow::closed, this, [] { QCoreApplication::quit(); });
}

FrontEnd::~FrontEnd() = default;

void FrontEnd::AddWaitRenderer(FormModel& form) {
  TMainfrm* main = &mainForm_;
  waits_.push_back(std::make_unique<FormRenderer>(
      form, [main](const std::string& handler) { main->Invoke(handler); }, main_->Window()));
}

void FrontEnd::Start() {
  // An exception inside FormCreate is shown by Invoke; the window is shown all the same.
  mainForm_.Invoke("FormCreate");
  main_->ShowWindow();

  if (EnvIs("VELMORA_EXIT_AFTER_SHOW", "1")) {
    QTimer::singleShot(0, this, [] {
      std::fprintf(stderr, "window shown after %lld ms\n", MillisecondsSinceStart());
      std::fflush(stderr);
      QCoreApplication::quit();
    });
    return;
  }
  const std::string shots = EnvText("VELMORA_SCREENSHOT_DIR");
  if (!shots.empty()) {
    QTimer::singleShot(0, this, [this, shots] {
      // VELMORA_SCREENSHOT_RUN names handlers (separated by commas) to run before the
      // pictures are taken, for example "CollectClassesBtClick" to show a collection.
      for (const std::string& handler : HandlerList(EnvText("VELMORA_SCREENSHOT_RUN"))) mainForm_.Invoke(handler);
      QCoreApplication::exit(SaveScreenshots(shots) ? 0 : 1);
    });
    return;
  }
  // Without a window manager (the offscreen platform) the window may never be activated:
  // run the activation handler once anyway, unless a real activation came first.
  QTimer::singleShot(0, this, [this] {
    if (main_->Activations() == 0) main_->Activate();
  });
}

void FrontEnd::Finish() {
  if (finished_) return;
  finished_ = true;
  mainForm_.Invoke("FormDestroy");
}

bool FrontEnd::SaveScreenshots(const std::string& folder) {
  const QDir dir(QString::fromStdString(folder));
  if (!dir.exists() && !QDir().mkpath(dir.path())) {
    std::fprintf(stderr, "cannot create the folder %s\n", folder.c_str());
    return false;
  }
  const auto save = [&dir](QWidget* widget, const std::string& name) {
    // Let delayed layouts (list views, scroll bars) settle before the picture is taken.
    QEventLoop settle;
    QTimer::singleShot(150, &settle, &QEventLoop::quit);
    settle.exec();
    const QString path = dir.filePath(QString::fromStdString(name + ".png"));
    if (widget->grab().save(path, "PNG")) return true;
    std::fprintf(stderr, "cannot write %s\n", path.toLocal8Bit().constData());
    return false;
  };
  FormRenderer* wait = waits_.empty() ? nullptr : waits_.back().get();
  return TakeScreenshotTour(mainForm_.Form(), main_->TabbedPages("MainPageControle"),
                            wait != nullptr ? &wait->Model() : nullptr,
                            [&](int window, const std::string& name) {
                              return save(window == 0 ? main_->Window() : wait->Window(), name);
                            });
}

long long FrontEnd::MillisecondsSinceStart() {
  const long long fromTable = MillisecondsFromProcTable();
  if (fromTable >= 0) return fromTable;
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - kLoadTime)
      .count();
}
