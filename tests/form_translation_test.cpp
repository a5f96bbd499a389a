// Captions and hints from the language file, the language chooser and the control inventory.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "base/window_layout.h"
#include "lang/form_translation.h"
#include "platform/profile.h"
#include "support/app_fixture.h"

namespace {

class TranslationTest : public AppFixture {
 protected:
  std::string WriteLanguage(const std::string& mainfrm) {
    return tmp.Write("lang.lng", "[Msg]\r\n[Mainfrm]\r\n" + mainfrm);
  }
};

TEST_F(TranslationTest, CaptionsAndHintsByKind) {
  Make();
  const std::string lng = WriteLanguage(
      "NodeNameLbl=Bereit\r\n"                     // label, no hint key: the English one
      "FindDirsbtn=Ordner\r\n"                     // no hint key anywhere
      "Savelb=ignored\r\nSavelbHnt=list hint\r\n"  // plain list box: hint only
      "GetDevlbHnt=only a hint\r\n"                // list box without key N: unchanged
      "GroupBox1=Gruppe\r\n"                       // on both windows
      "EnumBtn=Aufzählen\r\nEnumBtnHnt=Packs\r\n"  // speed button
      "LogLbx=never\r\nPacksChlbx=never\r\n"       // kinds that are not handled
      "CMDUnpackMethoded=No Comments\r\n"          // "No Comments" counts as missing
      "Label6=Mail && Co\r\n"                      // "&&" shows as one ampersand
      "InstallDPbtn=&Installieren && Ende\r\n"     // a single "&" marks an accelerator
      "CMDPackDired=C:\\A&&B\r\n");                // an edit's text is taken as it is
  TranslateFormComponents(main->Forms(), TextSource({lng}));
  const FormModel& f = main->Form();
  EXPECT_EQ(f.Caption("NodeNameLbl"), "Bereit");
  EXPECT_EQ(f.Hint("NodeNameLbl"), "");
  EXPECT_EQ(f.Caption("FindDirsbtn"), "Ordner");
  EXPECT_EQ(f.Hint("FindDirsbtn"), "No Comments");
  // Keys the file lacks come from the built-in English texts.
  EXPECT_EQ(f.Caption("SaveLogbtn"), "Save Log");
  EXPECT_EQ(f.Hint("SaveLogbtn"), "Save the application log to a text file");
  EXPECT_EQ(f.Caption("EnumBtn"), "Aufzählen");
  EXPECT_EQ(f.Hint("EnumBtn"), "Packs");
  EXPECT_EQ(f.Hint("Savelb"), "list hint");
  EXPECT_TRUE(f.Items("Savelb").empty());
  EXPECT_EQ(f.Hint("GetDevlb"), "");
  EXPECT_EQ(f.Caption("GroupBox1"), "Gruppe");
  EXPECT_EQ(main->Waitfrm().Caption("GroupBox1"), "Gruppe");
  EXPECT_EQ(f.Caption("LogLbx"), "");
  EXPECT_EQ(f.Caption("CMDUnpackMethoded"), "1");
  EXPECT_EQ(f.Caption("Label6"), "Mail & Co");
  EXPECT_EQ(f.Caption("InstallDPbtn"), "Installieren & Ende");
  EXPECT_EQ(f.Caption("CMDPackDired"), "C:\\A&&B");
  // Applying twice gives the same texts as once.
  TranslateFormComponents(main->Forms(), TextSource({lng}));
  EXPECT_EQ(f.Caption("EnumBtn"), "Aufzählen");
  EXPECT_EQ(f.Hint("FindDirsbtn"), "No Comments");
}

TEST(Captions, AcceleratorMarksAndTheShownText) {
  struct Case {
    const char* marked;
    const char* shown;
  };
  for (const Case& c : {Case{"Unpack all && Install", "Unpack all & Install"}, Case{"&File", "File"},
                        Case{"a&&&b", "a&b"}, Case{"end&", "end"}, Case{"&&&&", "&&"}, Case{"", ""},
                        Case{"PCI\\VEN_1&&DEV_2", "PCI\\VEN_1&DEV_2"}}) {
    EXPECT_EQ(ShownCaption(c.marked), c.shown) << c.marked;
  }
  // Written back for a language file, every shown text reads as itself again.
  for (const char* shown : {"A & B", "&&", "PCI\\VEN_1&DEV_2&SUBSYS_3", "plain", ""}) {
    EXPECT_EQ(ShownCaption(MarkedCaption(shown)), shown);
  }
  EXPECT_EQ(MarkedCaption("A & B"), "A && B");
}

TEST_F(TranslationTest, WithoutAUsableFileTheBuiltInEnglishTextsAreApplied) {
  Make();
  const FormModel& f = main->Form();
  // The Home Page's two main buttons have no design caption: only the texts give them one.
  ASSERT_EQ(f.Caption("UnpackInstallTntSpeedButton"), "");
  TranslateFormComponents(main->Forms(), TextSource({tmp.File("missing.lng")}));
  EXPECT_EQ(f.Caption("EnumBtn"), "Enumerate DP");
  EXPECT_EQ(f.Caption("UnpackInstallTntSpeedButton"), "Unpack all & Install");
  EXPECT_EQ(f.Caption("UnpackInstallHwidsTntSpeedButton"), "Search by HWIDs & Install");
}

TEST_F(TranslationTest, ChooserListsFilesAndPickingChangesMessagesNotCaptions) {
  WriteTestLanguage(programDir + "lng/deutsch.lng", "Deutsch");
  tmp.Write("prog/lng/broken.lng", "[Msg]\r\nlog1=x\r\n");
  tmp.MakeDir("prog/lng/folder.lng");
  Start();
  FormModel& f = main->Form();
  auto names = f.Items("LanguageNameTntComboBox");
  auto paths = f.Items("LanguageTntComboBox");
  ASSERT_EQ(names.size(), 3u);
  ASSERT_EQ(paths.size(), 3u);
  std::size_t german = 3;
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(names[i] == "Deutsch", paths[i] == programDir + Joined("lng/deutsch.lng"));
    if (names[i] == "Deutsch") german = i;
  }
  EXPECT_NE(std::find(names.begin(), names.end(), "Error reading TranslateLangName param"), names.end());
  ASSERT_LT(german, 3u);
  EXPECT_EQ(f.Caption("EnumBtn"), "English enumerate");

  f.SetItemIndex("LanguageNameTntComboBox", static_cast<int>(german));
  main->LanguageNameTntComboBoxChange();
  EXPECT_EQ(main->Caption("LangFileLabel"), programDir + Joined("lng/deutsch.lng"));
  EXPECT_EQ(f.Caption("EnumBtn"), "English enumerate");
  main->TranslateTntButtonClick();
  EXPECT_EQ(f.Caption("EnumBtn"), "Deutsch enumerate");
  EXPECT_EQ(Ini("Program", "LanguageFile"), programDir + Joined("lng/deutsch.lng"));
  EXPECT_TRUE(LogHas("log70|" + programDir + Joined("lng/deutsch.lng") + "|%s"));
}

TEST_F(TranslationTest, LanguageChangeDecidesTheStartLanguage) {
  SKIP_ON_WINDOWS(VELMORA_LINUX_PATHS);
  WriteTestLanguage(programDir + "lng/deutsch.lng", "Deutsch");
  const std::string german = programDir + "lng/deutsch.lng";
  const std::string elsewhere = tmp.File("old place/lng/");
  struct Case {
    const char* change;
    std::string file;      // LanguageFile in the configuration
    std::string expected;  // the start language
    const char* shown;     // the chooser's entry
  };
  const Case cases[] = {
      {"yes", german, german, "Deutsch"},
      {"YES", german, german, "Deutsch"},
      {"no", german, programDir + "lng/english.lng", "English"},
      {"NO", german, programDir + "lng/english.lng", "English"},
      // The program moved: its own language folder holds the file.
      {"YES", elsewhere + "deutsch.lng", german, "Deutsch"},
      // A file that is gone: named, and English is the language in use.
      {"YES", elsewhere + "gone.lng", elsewhere + "gone.lng", "English"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.change) + " " + c.file);
    Start();
    main.reset();
    platform::profile::WriteString(programDir + "dp_tavi.ini", "Program", "LanguageChange", c.change);
    platform::profile::WriteString(programDir + "dp_tavi.ini", "Program", "LanguageFile", c.file);
    Start();
    EXPECT_EQ(main->Caption("LangFileLabel"), c.expected);
    const FormModel& f = main->Form();
    const int shown = f.ItemIndex("LanguageNameTntComboBox");
    ASSERT_GE(shown, 0);
    EXPECT_EQ(f.Items("LanguageNameTntComboBox")[static_cast<std::size_t>(shown)], c.shown);
    EXPECT_EQ(f.Caption("LanguageNameTntComboBox"), c.shown);
    EXPECT_EQ(f.ItemIndex("LanguageTntComboBox"), shown);
    main.reset();
  }
}

TEST_F(TranslationTest, AnAppliedLanguageIsTheLanguageOfTheNextStart) {
  SKIP_WITHOUT_LINUX_OVERRIDE("VELMORA_DRIVE_TYPE");
  WriteTestLanguage(programDir + "lng/deutsch.lng", "Deutsch");
  const std::string german = programDir + "lng/deutsch.lng";
  struct Case {
    const char* driveType;
    std::string configuration;  // where the configuration lies
  };
  // From a CD the configuration lies in the working folder: that is where the choice is kept.
  for (const Case& c : {Case{"3", programDir + "dp_tavi.ini"}, Case{"5", workDir + "dp_tavi.ini"}}) {
    SCOPED_TRACE(c.driveType);
    SetEnvVar("VELMORA_DRIVE_TYPE", c.driveType);
    Start();
    FormModel* f = &main->Form();
    const auto& names = f->Items("LanguageNameTntComboBox");
    const auto found = std::find(names.begin(), names.end(), "Deutsch");
    ASSERT_NE(found, names.end());
    f->SetItemIndex("LanguageNameTntComboBox", static_cast<int>(found - names.begin()));
    main->LanguageNameTntComboBoxChange();
    main->TranslateTntButtonClick();
    EXPECT_EQ(platform::profile::ReadString(c.configuration, "Program", "LanguageChange", ""), "YES");
    EXPECT_EQ(platform::profile::ReadString(c.configuration, "Program", "LanguageFile", ""), german);
    main.reset();

    Start();
    f = &main->Form();
    EXPECT_EQ(main->Caption("LangFileLabel"), german);
    EXPECT_EQ(f->Caption("LanguageNameTntComboBox"), "Deutsch");
    EXPECT_EQ(f->Caption("EnumBtn"), "Deutsch enumerate");
    EXPECT_TRUE(LogHas("log70|" + german + "|%s"));
    main.reset();
    std::filesystem::remove(programDir + "dp_tavi.ini");
    std::filesystem::remove(workDir + "dp_tavi.ini");
  }
}

// A language of its own words, so what the program shows can be told from every English text.
class AppliedLanguageTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    german = tmp.Write("prog/lng/deutsch.lng",
                       "[About]\r\nTranslateLangName=Deutsch\r\nAboutFile=Info_de.txt\r\n"
                       "[Msg]\r\nlog88=Auswahl aufheben\r\nlog89=Ja\r\nlog90=Nein\r\n"
                       "[Mainfrm]\r\nPackNameLbl=Alle Pakete\r\nHWIDSlabel=Alle HWIDs\r\n");
    tmp.Write("prog/Data/Info_de.txt", "Info Zeile 1\r\nInfo Zeile 2\r\n");
  }
  // Applies a language as a person does: picked in the chooser, then "Apply translation".
  void Apply(const std::string& file) {
    main->SetCaption("LangFileLabel", file);
    main->TranslateTntButtonClick();
  }

  std::string german;
};

TEST_F(AppliedLanguageTest, SelectLinksToggleInEveryLanguage) {
  struct Case {
    const char* link;
    const char* list;
    void (TMainfrm::*click)();
    const char* selectText;
  };
  for (const Case& c : {Case{"PackNameLbl", "PacksChlbx", &TMainfrm::PackNameLblClick, "Alle Pakete"},
                        Case{"HWIDSlabel", "HWIDS2Installchb", &TMainfrm::HWIDSlabelClick, "Alle HWIDs"}}) {
    SCOPED_TRACE(c.link);
    Start();
    FormModel& f = main->Form();
    f.SetItems(c.list, {"a", "b"});
    Apply(german);
    EXPECT_EQ(f.Caption(c.link), c.selectText);
    ((*main).*c.click)();
    EXPECT_TRUE(f.Checked(c.list, 0) && f.Checked(c.list, 1));
    EXPECT_EQ(f.Caption(c.link), "Auswahl aufheben");
    ((*main).*c.click)();
    EXPECT_FALSE(f.Checked(c.list, 0) || f.Checked(c.list, 1));
    EXPECT_EQ(f.Caption(c.link), c.selectText);

    // Ticked in one language, cleared in the next: the link keeps its meaning.
    ((*main).*c.click)();
    Apply(programDir + "lng/english.lng");
    EXPECT_EQ(f.Caption(c.link), main->Msg("log88"));
    ((*main).*c.click)();
    EXPECT_FALSE(f.Checked(c.list, 0) || f.Checked(c.list, 1));
    EXPECT_EQ(f.Caption(c.link), "Select All");
    // Back in the language that shows the first text, nothing changes it.
    Apply(german);
    EXPECT_EQ(f.Caption(c.link), c.selectText);
    main.reset();
  }
}

TEST_F(AppliedLanguageTest, QuestionsAreAnsweredInTheLanguage) {
  Start();
  Apply(german);
  EXPECT_EQ(ui.yesText, "Ja");
  EXPECT_EQ(ui.noText, "Nein");
  main.reset();
  // A run from the command line logs the answer it takes in the language's words.
  Make({"/untd"});
  main->SetCaption("LangFileLabel", german);
  EXPECT_TRUE(main->AskYesNo("Weiter?", true));
  EXPECT_FALSE(main->AskYesNo("Abbrechen?", false));
  EXPECT_TRUE(LogHas("Weiter? - Ja"));
  EXPECT_TRUE(LogHas("Abbrechen? - Nein"));
}

TEST_F(AppliedLanguageTest, TheAboutPageIsTheTextTheLanguageNames) {
  const std::vector<std::string> english = {"About line 1", "About line 2"};
  const std::vector<std::string> deutsch = {"Info Zeile 1", "Info Zeile 2"};
  struct Case {
    const char* name;
    std::function<void(TempDir&)> prepare;
    std::vector<std::string> shown;
    std::vector<std::string> logged;  // the lines naming a missing text (at the start, then applied)
  };
  const Case cases[] = {
      {"the language's own text", [](TempDir&) {}, deutsch, {}},
      {"own text missing: the English one",
       [](TempDir& t) { std::filesystem::remove(t.File("prog/Data/Info_de.txt")); },
       english,
       {"log93|" + programDir + Joined("Data/Info_de.txt") + "|%s"}},
      {"no text named: the English one",
       [](TempDir& t) {
         t.Write("prog/lng/deutsch.lng", "[About]\r\nTranslateLangName=Deutsch\r\n[Msg]\r\n");
       },
       english,
       {}},
      {"no text at all",
       [](TempDir& t) {
         std::filesystem::remove(t.File("prog/Data/Info_de.txt"));
         std::filesystem::remove(t.File("prog/Data/PackInfo.txt"));
       },
       {},
       {"log93|" + programDir + Joined("Data/PackInfo.txt") + "|%s", "log93|" + programDir + Joined("Data/Info_de.txt") + "|%s"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();  // every case starts from the same program folder
    c.prepare(tmp);
    Start();
    Apply(german);
    EXPECT_EQ(main->Form().Items("AboutListBox"), c.shown);
    std::vector<std::string> missing;
    for (const std::string& text : LogTexts()) {
      if (text.rfind("log93|", 0) == 0) missing.push_back(text);
    }
    EXPECT_EQ(missing, c.logged);
    // Back in English the English text shows again.
    if (tmp.Exists("prog/Data/PackInfo.txt")) {
      Apply(programDir + "lng/english.lng");
      EXPECT_EQ(main->Form().Items("AboutListBox"), english);
    }
    main.reset();
  }
}

TEST_F(TranslationTest, InventoryListsControlsByKind) {
  Start();
  main->SetCaption("NodeNameLbl", "PCI\\VEN_1&DEV_2");
  main->EnumControlsButtonClick();
  const std::string inv = workDir + "ListOfComponents.ini";
  auto read = [&](const char* section, const std::string& key) {
    return platform::profile::ReadString(inv, section, key, "<missing>");
  };
  EXPECT_NE(read("Mainfrm", "Creation Date"), "<missing>");
  EXPECT_EQ(read("Buttons", "FindDirsbtn"), "Find Dirrectories");
  EXPECT_EQ(read("HINTS", "FindDirsbtnHnt"), "");
  // Written as a language file writes it: a shown "&" doubled.
  EXPECT_EQ(read("Labels", "NodeNameLbl"), "PCI\\VEN_1&&DEV_2");
  EXPECT_EQ(read("Labels", "Label6"), "Send E-Mail");
  EXPECT_EQ(read("Sheets", "FirstTabSheet"), "Home Page");
  // Captions the test language lacks are the built-in English ones.
  EXPECT_EQ(read("MenuItems", "UnpackDriverPacks1"), "Unpack Driver Packs (method 1)");
  EXPECT_EQ(read("Edits", "CMDUnpackMethoded"), "1");
  EXPECT_EQ(read("HINTS", "SavelbHnt"), "");
  EXPECT_EQ(read("ListBoxies", "Savelb"), "<missing>");
  // Speed buttons and Unicode lists are not listed.
  EXPECT_EQ(read("Buttons", "EnumBtn"), "<missing>");
  EXPECT_EQ(read("HINTS", "LogLbxHnt"), "<missing>");
  // Equal names on both windows: the progress window comes later and wins.
  EXPECT_EQ(read("GroupBoxies", "GroupBox1"), "Current operation");
  auto sections = platform::profile::ReadSectionNames(inv);
  ASSERT_FALSE(sections.empty());
  EXPECT_EQ(sections.front(), "Mainfrm");
  // Written again, the old file is replaced, not added to.
  main->EnumControlsButtonClick();
  EXPECT_EQ(platform::profile::ReadSectionNames(inv), sections);
}

}  // namespace

namespace {

class FreshProgressWindowTest : public AppFixture {};

TEST_F(FreshProgressWindowTest, SpeaksTheCurrentLanguage) {
  tmp.Write("prog/lng/deutsch.lng",
            "[About]\r\nTranslateLangName=Deutsch\r\n[Msg]\r\n[Mainfrm]\r\nUnpackingLbl=Verarbeitung\r\n");
  Start();
  main->SetCaption("LangFileLabel", programDir + "lng/deutsch.lng");
  main->TranslateTntButtonClick();
  EXPECT_EQ(main->Waitfrm().Caption("UnpackingLbl"), "Verarbeitung");
  // What an operation left in the window is gone from the fresh one, and no second window is
  // left behind hidden.
  FormModel& before = main->Waitfrm();
  before.SetCaption("UnpackingLbl", "stale");
  before.SetItems("CMDTemplb", {"old output"});
  before.SetGaugeMax("UnpackGauge", 10);
  before.SetGaugePosition("UnpackGauge", 7);
  before.SetVisible(kWaitFormName, true);
  const std::size_t windows = main->Forms().size();
  FormModel& fresh = main->NewWaitfrm();
  EXPECT_EQ(&fresh, &main->Waitfrm());
  EXPECT_EQ(fresh.Caption("UnpackingLbl"), "Verarbeitung");
  EXPECT_TRUE(fresh.Items("CMDTemplb").empty());
  EXPECT_EQ(fresh.GaugePosition("UnpackGauge"), 0);
  EXPECT_EQ(fresh.GaugeMax("UnpackGauge"), 100);
  EXPECT_FALSE(fresh.Visible(kWaitFormName));
  EXPECT_EQ(main->Forms().size(), windows);
  EXPECT_EQ(main->Forms().size(), 2u);
}

}  // namespace
