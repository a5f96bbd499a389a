#include "base/window_layout.h"

namespace {

using K = ControlKind;

// Adds controls with a compact syntax; returns the added control for further settings.
struct Builder {
  FormModel& form;
  Control& add(K kind, std::string name, std::string parent, std::string caption = {}, std::string hint = {},
               std::string onClick = {}) {
    Control c;
    c.kind = kind;
    c.name = std::move(name);
    c.parent = std::move(parent);
    c.caption = std::move(caption);
    c.hint = std::move(hint);
    c.onClick = std::move(onClick);
    return form.Add(std::move(c));
  }
  Control& hidden(K kind, std::string name, std::string parent, std::string caption = {},
                  std::string onClick = {}) {
    Control& c = add(kind, std::move(name), std::move(parent), std::move(caption), {}, std::move(onClick));
    c.visible = false;
    return c;
  }
};

constexpr const char* kMailHint = "Click to send me an E-mail";

// The log, the pack list and the device lists show lime text on a dark background.
Control& dark(Control& c) {
  c.look = ControlLook::DarkList;
  return c;
}

}  // namespace

void BuildMainForm(FormModel& form) {
  Builder b{form};
  Control& main = b.add(K::Form, kMainFormName, "", "Velmora Ostrel Edition");
  main.width = 734;
  main.height = 668;
  main.onChange = "FormActivate";
  b.add(K::PageControl, "MainPageControle", kMainFormName).align = "client";

  // Home Page
  b.add(K::TabSheet, "FirstTabSheet", "MainPageControle", "Home Page");
  Control& top = b.add(K::Panel, "TopHomePanel", "FirstTabSheet");
  top.align = "top";
  top.height = 180;
  b.add(K::GroupBox, "HomeGroupBox", "TopHomePanel", "Main Features").align = "client";
  Control& u1 = b.add(K::SpeedButton, "UnpackInstallTntSpeedButton", "HomeGroupBox", "", "",
                      "UnpackInstallTntSpeedButtonClick");
  u1.width = 185;
  u1.height = 65;
  Control& u2 = b.add(K::SpeedButton, "UnpackInstallHwidsTntSpeedButton", "HomeGroupBox", "", "",
                      "UnpackInstallHwidsTntSpeedButtonClick");
  u2.width = 184;
  u2.height = 65;
  Control& lg = b.add(K::GroupBox, "LanguageGroupBox", "TopHomePanel", "LanguageGroupBox");
  lg.align = "right";
  lg.width = 230;
  b.add(K::Panel, "LangPanel", "LanguageGroupBox").align = "client";
  b.add(K::UnicodeComboBox, "LanguageNameTntComboBox", "LangPanel").onChange = "LanguageNameTntComboBoxChange";
  b.add(K::SpeedButton, "TranslateTntButton", "LangPanel", "Apply transalation", "", "TranslateTntButtonClick");
  b.add(K::GroupBox, "Loggbx", "FirstTabSheet", "Log").align = "client";
  b.add(K::Panel, "Panel5", "Loggbx").align = "bottom";
  b.add(K::LinkLabel, "Label6", "Panel5", "Send E-Mail", kMailHint, "sClick").align = "left";
  b.add(K::SpeedButton, "SaveLogbtn", "Panel5", "Save Log", "", "SaveLogbtnClick").align = "right";
  Control& log = dark(b.add(K::UnicodeListBox, "LogLbx", "Loggbx"));
  log.align = "client";
  // A collection's search logs millions of lines: they are held compactly.
  log.compactItems = true;

  // Driver Packs
  b.add(K::TabSheet, "MainSheet", "MainPageControle", "Driver Packs");
  Control& menu = b.add(K::Panel, "MainMenuPanel", "MainSheet");
  menu.align = "top";
  menu.height = 41;
  b.add(K::SpeedButton, "EnumBtn", "MainMenuPanel", "Enumirate DP", "", "EnumBtnClick");
  Control& arrow = b.add(K::ArrowButton, "UnpackJvArrowButton", "MainMenuPanel", "Unpack DP", "Choose unpack method",
                         "UnpackJvArrowButtonClick");
  arrow.popupMenu = "UnpackPopupMenu";
  b.add(K::SpeedButton, "InstallDPbtn", "MainMenuPanel", "Install DP", "", "InstallDPbtnClick");
  b.add(K::SpeedButton, "ChangeDPlocationbtn", "MainMenuPanel", "Change DP Location", "", "ChangeDPlocationbtnClick");
  b.add(K::SpeedButton, "DeletePacksbtn", "MainMenuPanel", "Delete DP", "", "DeletePacksbtnClick");
  b.add(K::Panel, "LogPanel", "MainSheet").align = "client";
  b.add(K::GroupBox, "PacksGbx", "LogPanel", "DriverPacks").align = "client";
  b.add(K::Panel, "Panel1", "PacksGbx").align = "top";
  b.add(K::LinkLabel, "PackNameLbl", "Panel1", "Select All", "Click to select all listed driver packs", "PackNameLblClick")
      .align = "left";
  b.add(K::LinkLabel, "s", "Panel1", "Send E-Mail", kMailHint, "sClick").align = "right";
  dark(b.add(K::CheckListBox, "PacksChlbx", "PacksGbx")).align = "client";

  // HWIDs-extended
  b.add(K::TabSheet, "EqSheet", "MainPageControle", "HWIDs-extended");
  b.add(K::Panel, "Panel3", "EqSheet").align = "top";
  // The status line has a row of its own below the buttons, so a long text never moves them.
  b.add(K::Label, "NodeNameLbl", "Panel3", "Ready").align = "bottom";
  b.add(K::SpeedButton, "CollectHWIDsimpleButton", "Panel3", "Collect HWIDs ", "", "CollectHWIDsimpleButtonClick");
  b.add(K::SpeedButton, "CollectClassesBt", "Panel3", "Collect HWIDs +", "", "CollectClassesBtClick");
  b.add(K::SpeedButton, "SearchByHWIDSbtn", "Panel3", "Search ByHWIDs", "", "SearchByHWIDSbtnClick");
  b.add(K::SpeedButton, "InstallHWIDsbtn", "Panel3", "Install by HWIDs", "", "InstallHWIDsbtnClick");
  b.add(K::SpeedButton, "SaveHWIDSbtn", "Panel3", "Save HWIDs tree", "", "SaveHWIDSbtnClick");
  b.add(K::SpeedButton, "SaveHWIDsSimpleButton", "Panel3", "Save HWIDs simple", "", "SaveHWIDsSimpleButtonClick");
  b.add(K::SpeedButton, "Tree2XMLBtn", "Panel3", "Tree 2 XML", "", "Tree2XMLBtnClick");
  b.add(K::SpeedButton, "XML2TreeBtn", "Panel3", "XML 2 Tree", "", "XML2TreeBtnClick");
  b.add(K::SpeedButton, "LoadHwidListBtn", "Panel3", "Load HWIDs list", "", "LoadHwidListBtnClick");
  b.add(K::Panel, "EqTreePanel", "EqSheet").align = "client";
  Control& gb = b.add(K::GroupBox, "Hwids2installgb", "EqTreePanel", "HWIDs to Install");
  gb.align = "top";
  gb.height = 249;
  b.add(K::Panel, "Panel4", "Hwids2installgb").align = "top";
  b.add(K::LinkLabel, "HWIDSlabel", "Panel4", "Select All", "Click to select all founded HWIDs", "HWIDSlabelClick")
      .align = "left";
  b.add(K::LinkLabel, "Label2", "Panel4", "Send E-Mail", kMailHint, "sClick").align = "right";
  dark(b.add(K::CheckListBox, "HWIDS2Installchb", "Hwids2installgb")).align = "client";
  Control& hw = b.add(K::ComboBox, "HWIDSforWorkcbx", "Hwids2installgb", "HWIDS");
  hw.align = "bottom";
  hw.onChange = "HWIDSforWorkcbxSelect";
  // Shows the identifier picked for the web search (the language files say that none is picked
  // yet, so "Search via Inet" is shown once, by Label3).
  b.add(K::LinkLabel, "HWIDSelectlb", "Hwids2installgb", "Search via Inet", "", "HWIDSelectlbClick").align = "bottom";
  b.add(K::LinkLabel, "Label3", "Hwids2installgb", "Search via Inet", "Click to search selected HWID in the Internet ",
        "HWIDSelectlbClick")
      .align = "bottom";
  Control& eg = b.add(K::Gauge, "EqGauge", "EqTreePanel");
  eg.visible = false;
  eg.align = "bottom";
  b.add(K::PageControl, "HWIDsPageControl", "EqTreePanel").align = "client";
  b.add(K::TabSheet, "HWIDSTreeTabSheet", "HWIDsPageControl", "HWIDs tree view");
  dark(b.add(K::TreeView, "EqTreeView", "HWIDSTreeTabSheet", "", "", "EqTreeViewClick")).align = "client";
  b.add(K::TabSheet, "HWIDsSimpleReportTabSheet", "HWIDsPageControl", "HWIDs simple view");
  Control& simple = dark(b.add(K::ListBox, "HWIDsSimpleListBox", "HWIDsSimpleReportTabSheet"));
  simple.align = "client";
  simple.fixedPitch = true;  // the device console pads its columns with blanks
  b.hidden(K::Memo, "HWIDsSimpleTempMemo", "HWIDsSimpleReportTabSheet");

  // About
  b.add(K::TabSheet, "AboutSheet", "MainPageControle", "About");
  b.add(K::Panel, "Panel2", "AboutSheet").align = "top";
  b.add(K::LinkLabel, "Label4", "Panel2", "Send E-Mail", kMailHint, "sClick").align = "left";
  b.add(K::LinkLabel, "Label5", "Panel2", "Check for new version", "Click to check new version availability",
        "Label5Click")
      .align = "right";
  b.add(K::UnicodeListBox, "AboutListBox", "AboutSheet").align = "client";

  // The hidden page: the program's shared working state.
  Control& invis = b.add(K::TabSheet, "InvisSheet", "MainPageControle", "InvisSheet");
  invis.tabVisible = false;
  b.add(K::GroupBox, "GroupBox1", "InvisSheet", "GroupBox1");
  b.add(K::GroupBox, "GroupBox2", "InvisSheet", "GroupBox2");
  b.add(K::GroupBox, "GroupBox3", "InvisSheet", "GroupBox3");
  for (const char* label : {"LangFileLabel", "IniLocationlbl", "WinDirlbl", "Workdir", "AppMainPathlbl", "TimeStartlbl",
                            "TImeStoplbl"}) {
    b.add(K::Label, label, "GroupBox1", label);
  }
  b.add(K::UnicodeComboBox, "CMDlogcmb", "GroupBox2");
  b.add(K::ComboBox, "PackNamecbx", "GroupBox2");
  b.add(K::ComboBox, "CMDLinecdx", "GroupBox2");
  b.add(K::UnicodeComboBox, "LanguageTntComboBox", "GroupBox2");
  for (const char* edit : {"CMDOutFileed", "CMDPackOutDired", "CMDPackDired", "CMDFileed", "CMD4HWIDunpacked"}) {
    b.add(K::Edit, edit, "GroupBox2");
  }
  b.add(K::Edit, "CMDUnpackMethoded", "GroupBox2", "1");
  b.add(K::Edit, "StopVolatileed", "GroupBox2", "StopVolatileed");
  for (const char* list : {"INFpathslb", "INFfullPathslb", "HWIDSforworklb", "HWIDSTEMPlb", "SearchINFExtraxtPathslb",
                           "FirstFilterlb", "SecondFilterlb", "ThirdFilterlb", "GetDevlb", "Savelb", "UnpackedDPlb"}) {
    b.add(K::ListBox, list, "GroupBox3");
  }
  struct HiddenButton {
    const char* name;
    const char* caption;
  };
  for (const HiddenButton& hb : {
           HiddenButton{"FirstCheckbtn", "Check Drive type first"}, {"FindDirsbtn", "Find Dirrectories"},
           {"CreateOutDirbtn", "Create Output dirrectrory"}, {"AfterDelet", "AfterDelet"},
           {"RunWithOutput", "Unpack Driver Packs"}, {"CreateInibtn", "Create Ini"},
           {"StartFromDirbtn", "StartFromDirbtn"}, {"ExtractINFsbtn", "ExtractINFsbtn"},
           {"CutDecreaseHWIDSbtn", "Cut and Decrease HWIDS"}, {"PrepareUnpackFilesbtn", "PrepareUnpackFilesbtn"},
           {"GetDevlbBtn", "GetDevlbBtn"}, {"ConvertLoadBt", "ConvertLoadBt"}, {"LoadListbt", "LoadListbt"},
           {"TreeLoadBt", "TreeLoadBt"}, {"EnumControlsButton", "EnumControlsButton"},
           {"EnumLanguagesTntButton", "EnumLanguagesTntButton"}}) {
    std::string handler = std::string(hb.name) + "Click";
    b.add(K::Button, hb.name, "InvisSheet", hb.caption, {}, handler);
  }

  // Components without a page.
  b.add(K::SaveDialog, "SaveDialog", kMainFormName);
  b.add(K::PopupMenu, "UnpackPopupMenu", kMainFormName);
  b.add(K::MenuItem, "UnpackDriverPacks1", "UnpackPopupMenu", "Unpack Driver Packs (1 method)",
        "The archive tool writes its messages straight into a file, read when it has finished",
        "UnpackDriverPacks1Click");
  b.add(K::MenuItem, "UnpackDriverPacks2method1", "UnpackPopupMenu", "Unpack Driver Packs (2 method)",
        "The archive tool's messages are read while it works and shown in the progress window",
        "UnpackDriverPacks2method1Click");
  b.add(K::OpenDialog, "ExternalDPDirod", kMainFormName, "Select Driver Pack");
  b.add(K::XmlDocument, "XMLDocument1", kMainFormName);
  Control& timer = b.add(K::Timer, "AutoCloseTimer", kMainFormName, {}, {}, "AutoCloseTimerTimer");
  timer.enabled = false;
  timer.interval = 10000;
  Control& clean = b.add(K::Timer, "CleanScriptTimer", kMainFormName, {}, {}, "CleanScriptTimerTimer");
  clean.enabled = false;
  clean.interval = 500;
}

void BuildWaitForm(FormModel& form) {
  Builder b{form};
  Control& wait = b.add(K::Form, kWaitFormName, "", "Wait please");
  wait.width = 543;
  wait.height = 171;
  wait.visible = false;
  wait.look = ControlLook::WaitWindow;
  Control& headline = b.add(K::Label, "Label1", kWaitFormName, "IN PROGRESS.PLEASE WAIT");
  headline.align = "client";
  headline.look = ControlLook::Headline;
  b.add(K::GroupBox, "GroupBox1", kWaitFormName, "Current operation").align = "top";
  b.add(K::Label, "UnpackingLbl", "GroupBox1", "Processing").look = ControlLook::OperationLabel;
  b.add(K::GroupBox, "GroupBox2", kWaitFormName, "Current progress").align = "top";
  b.add(K::Gauge, "UnpackGauge", "GroupBox2");
  b.add(K::GroupBox, "GroupBox3", kWaitFormName, "Total progress").align = "top";
  b.add(K::Gauge, "UnpackGauge2", "GroupBox3");
  Control& list = dark(b.add(K::ListBox, "CMDTemplb", kWaitFormName));
  list.visible = false;  // placed below the visible client area: a working list
  list.onChange = "CMDTemplbDrawItem";
}
