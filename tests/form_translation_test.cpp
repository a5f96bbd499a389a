// Captions and hints from the language file, the language chooser and the control inventory.
#include <gtest/gtest.h>

#include <algorithm>

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
      "CMDUnpackMethoded=No Comments\r\n");        // "No Comments" counts as missing
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
  // Applying twice gives the same texts as once.
  TranslateFormComponents(main->Forms(), TextSource({lng}));
  EXPECT_EQ(f.Caption("EnumBtn"), "Aufzählen");
  EXPECT_EQ(f.Hint("FindDirsbtn"), "No Comments");
}

TEST_F(TranslationTest, WithoutAUsableFileTheBuiltInEnglishTextsAreApplied) {
  Make();
  const FormModel& f = main->Form();
  // The Home Page's two main buttons have no design caption: only the texts give them one.
  ASSERT_EQ(f.Caption("UnpackInstallTntSpeedButton"), "");
  TranslateFormComponents(main->Forms(), TextSource({tmp.File("missing.lng")}));
  EXPECT_EQ(f.Caption("EnumBtn"), "Enumerate DP");
  EXPECT_EQ(f.Caption("UnpackInstallTntSpeedButton"), "Unpack all && Install");
  EXPECT_EQ(f.Caption("UnpackInstallHwidsTntSpeedButton"), "Search by HWIDs && Install");
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
    EXPECT_EQ(names[i] == "Deutsch", paths[i] == programDir + "lng/deutsch.lng");
    if (names[i] == "Deutsch") german = i;
  }
  EXPECT_NE(std::find(names.begin(), names.end(), "Error reading TranslateLangName param"), names.end());
  ASSERT_LT(german, 3u);
  EXPECT_EQ(f.Caption("EnumBtn"), "English enumerate");

  f.SetItemIndex("LanguageNameTntComboBox", static_cast<int>(german));
  main->LanguageNameTntComboBoxChange();
  EXPECT_EQ(main->Caption("LangFileLabel"), programDir + "lng/deutsch.lng");
  EXPECT_EQ(f.Caption("EnumBtn"), "English enumerate");
  main->TranslateTntButtonClick();
  EXPECT_EQ(f.Caption("EnumBtn"), "Deutsch enumerate");
  EXPECT_EQ(Ini("Program", "LanguageFile"), programDir + "lng/deutsch.lng");
  EXPECT_TRUE(LogHas("log70|" + programDir + "lng/deutsch.lng|%s"));
}

TEST_F(TranslationTest, LanguageChangeDecidesTheStartLanguage) {
  WriteTestLanguage(programDir + "lng/deutsch.lng", "Deutsch");
  struct Case {
    const char* change;
    const char* expected;
  };
  for (const Case& c : {Case{"yes", "lng/deutsch.lng"}, Case{"YES", "lng/deutsch.lng"}, Case{"no", "lng/english.lng"},
                        Case{"NO", "lng/english.lng"}}) {
    SCOPED_TRACE(c.change);
    Start();
    main.reset();
    platform::profile::WriteString(programDir + "dp_tavi.ini", "Program", "LanguageChange", c.change);
    platform::profile::WriteString(programDir + "dp_tavi.ini", "Program", "LanguageFile", programDir + "lng/deutsch.lng");
    Start();
    EXPECT_EQ(main->Caption("LangFileLabel"), programDir + c.expected);
    main.reset();
  }
}

TEST_F(TranslationTest, InventoryListsControlsByKind) {
  Start();
  main->EnumControlsButtonClick();
  const std::string inv = workDir + "ListOfComponents.ini";
  auto read = [&](const char* section, const std::string& key) {
    return platform::profile::ReadString(inv, section, key, "<missing>");
  };
  EXPECT_NE(read("Mainfrm", "Creation Date"), "<missing>");
  EXPECT_EQ(read("Buttons", "FindDirsbtn"), "Find Dirrectories");
  EXPECT_EQ(read("HINTS", "FindDirsbtnHnt"), "");
  EXPECT_EQ(read("Labels", "NodeNameLbl"), "Ready");
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
  FormModel& fresh = main->NewWaitfrm();
  EXPECT_EQ(&fresh, &main->Waitfrm());
  EXPECT_EQ(fresh.Caption("UnpackingLbl"), "Verarbeitung");
  EXPECT_EQ(main->Forms().size(), 3u);
}

}  // namespace
