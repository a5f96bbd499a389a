// Handing the unpacked drivers to the driver package installer and copying its log.
#include "app/main_form.h"
#include "base/text_util.h"
#include "base/window_layout.h"
#include "platform/files.h"
#include "shared/shared_functions.h"

void TMainfrm::InstallDPbtnClick() {
  if (RunAsItsOwn(&TMainfrm::InstallDPbtnClick)) return;
  // Whatever happens, the end is logged and the progress window hidden.
  struct Finish {
    TMainfrm& w;
    ~Finish() {
      try {
        w.LogKey("log51");
      } catch (...) {
      }
      w.Waitfrm().SetVisible(kWaitFormName, false);
    }
  };

  form_.ClearItems("CMDlogcmb");
  LogKey("log47");
  Finish finish{*this};

  const std::string winDir = Caption("WinDirlbl");
  // A switch run installs silently whatever the configuration file could keep: nobody is
  // there to answer an interactive installer.
  const std::string autoInstall =
      Unattended()
          ? std::string("YES")
          : UpperCase(config_.ReadString("Automation", "AutoDPInstall", "Error reading AutoDPInstall param"));
  const std::string nonCompressed = UpperCase(config_.ReadString(
      "DP_Options", "NonCompressedDriversFolder", "Error reading NonCompressedDriversFolder param"));

  auto prepareProgress = [&] {
    FormModel& wait = Waitfrm();
    wait.SetVisible(kWaitFormName, true);
    wait.SetGaugePosition("UnpackGauge", 0);
    wait.SetGaugePosition("UnpackGauge2", 0);
    wait.SetCaption("UnpackingLbl", Msg("log48"));
    wait.SetGaugeMax("UnpackGauge", 200);
    wait.SetGaugeMax("UnpackGauge2", 200);
    ui_.ProcessMessages();
  };
  // The installer is pointed at the folder that holds exactly the unpacked and chosen driver
  // folders (the working folder follows NonCompressedDriversFolderLocation when that option is
  // on), never at a folder above it: the INF copies of the index and the program's own files
  // stay out of its reach. It is made when missing, so an installer given it finds it empty.
  std::string folder = DriversFolder();
  if (!platform::DirectoryExists(folder)) platform::ForceDirectories(folder);
  if (folder.size() > 1) folder.pop_back();

  std::string commandLine = "DPINST.exe /path " + folder;
  if (autoInstall == "YES") {
    commandLine = "DPINST.exe /s /path " + folder;
    prepareProgress();
  }
  if (autoInstall == "YES" && nonCompressed == "YES") {
    commandLine = "DPINST.exe /path " + folder;
    prepareProgress();
  }
  if (autoInstall == "NO" && nonCompressed == "YES") commandLine = "DPINST.exe /path " + folder;
  LogKey("log49", {commandLine});

  // The installer's exit status: 0 when it installed every driver that serves a device (the
  // project's installers on both platforms keep to that); anything else, or an installer that
  // cannot be started, is a failed step of the run. Its log is read either way.
  int installerStatus = 0;
  const bool started = tools_.WinExecute(commandLine, true, &installerStatus);
  run_.installerRuns.push_back({commandLine, started ? std::optional<int>(installerStatus) : std::nullopt});
  if (!started) {
    LogKey("log106", {commandLine});
    StepFailed();
  } else if (installerStatus != 0) {
    LogKey("log107", {std::to_string(installerStatus)});
    StepFailed();
  }

  const std::string logFile = winDir + Sep() + "DPINST.LOG";
  // The installer names its log file, which is removed below: the log says where its lines went.
  if (platform::FileExists(logFile)) LogKey("log114", {logFile});
  form_.SetItems("CMDlogcmb", platform::ReadTextLines(logFile));
  FormModel& wait = Waitfrm();
  const auto& lines = form_.Items("CMDlogcmb");
  for (std::size_t i = 0; i < lines.size(); ++i) {
    wait.SetCaption("UnpackingLbl", Msg("log50", {lines[i]}));
    Log(lines[i]);
    const int position = static_cast<int>(std::min<std::size_t>(i, 1u << 30));
    wait.SetGaugePosition("UnpackGauge", position);
    wait.SetGaugePosition("UnpackGauge2", position);
  }
  LogKey("log96");
  WipeFile(logFile);
}
