// The language files shipped beside the program: every message key with the format
// specifiers its callers fill, and captions only for controls the user sees.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "base/form_model.h"
#include "base/window_layout.h"
#include "lang/form_translation.h"
#include "lang/messages.h"
#include "platform/ini_text.h"

namespace {

// The message catalogue: each key and the arguments its callers pass, in order
// ('s' a text, 'd' a whole number).
const std::map<std::string, std::string> kCatalogue = {
    {"log1", "s"},  {"log2", "s"},   {"log3", "s"},  {"log4", ""},   {"log5", ""},   {"log6", "s"},
    {"log7", "s"},  {"log8", "s"},   {"log9", ""},   {"log10", ""},  {"log11", "s"}, {"log12", ""},
    {"log13", ""},  {"log14", "s"},  {"log15", ""},  {"log16", "s"}, {"log17", "s"}, {"log18", ""},
    {"log19", "s"}, {"log20", ""},   {"log22", ""},  {"log23", "s"}, {"log24", "s"}, {"log25", ""},
    {"log26", ""},  {"log27", ""},   {"log28", "s"}, {"log29", "s"}, {"log30", "s"}, {"log31", "s"},
    {"log32", "s"}, {"log33", ""},   {"log34", ""},  {"log35", ""},  {"log36", ""},  {"log37", ""},
    {"log38", ""},  {"log39", ""},   {"log40", "s"}, {"log41", ""},  {"log42", ""},  {"log43", ""},
    {"log44", ""},  {"log45", ""},   {"log46", ""},  {"log47", ""},  {"log48", ""},  {"log49", "s"},
    {"log50", "s"}, {"log51", ""},   {"log52", ""},  {"log53", ""},  {"log54", ""},  {"log55", ""},
    {"log56", ""},  {"log57", "s"},  {"log58", ""},  {"log59", "s"}, {"log60", "s"}, {"log61", ""},
    {"log62", "s"}, {"log63", "ds"}, {"log64", "s"}, {"log65", ""},  {"log66", ""},  {"log67", ""},
    {"log68", ""},  {"log69", ""},   {"log70", "s"}, {"log71", ""},  {"log72", "s"}, {"log73", "s"}, {"log74", "s"}, {"log75", "sd"},
    {"log76", "s"}, {"log77", "s"}, {"log78", "s"}, {"log79", "s"}, {"log80", "ss"}, {"log81", ""}, {"log82", "s"},
    {"log83", "s"},  {"log84", "ss"}, {"log85", "s"},
    {"log86", "s"}, {"log87", "s"}, {"log88", ""},  {"log89", ""},  {"log90", ""},  {"log91", "s"},
    {"log92", "s"}, {"log93", "s"}, {"log94", "s"}, {"log95", "s"}, {"log96", ""}, {"log97", "s"}, {"log98", ""}, {"log99", "ss"}, {"log100", ""}, {"log101", "ss"}, {"log102", "ss"}, {"log103", "ss"}, {"log104", "s"}, {"log105", "s"}, {"log106", "s"}, {"log107", "s"}, {"log108", "s"},
    {"log112", "ss"}, {"log113", ""}, {"log114", "s"}, {"log115", "s"},
    {"log120", "s"}, {"log121", "s"}, {"log122", "sss"}, {"log123", "ss"}, {"log124", "sss"}, {"log125", "ss"},
    {"log126", "s"}, {"log127", ""}, {"log128", ""}, {"log129", ""},
    {"log130", "s"}, {"log131", "ss"}, {"log132", "s"}, {"log133", "s"}, {"log134", "s"},
    {"msg1", "d"},  {"msg2", ""},
    {"msg3", ""},   {"msg4", ""},    {"msg5", ""},   {"msg6", ""},   {"msg7", ""},   {"msg8", ""},
    {"msg9", ""},
};

// Visible controls whose captions must stay as the program writes them, or whose text is
// data rather than a caption.
const std::set<std::string> kNeverTranslated = {
    "HWIDSforWorkcbx",  // its text is the picked hardware ID
};

struct LanguageFile {
  const char* file;
  const char* displayName;
};
void PrintTo(const LanguageFile& language, std::ostream* out) { *out << language.file; }

const std::vector<LanguageFile> kShippedFiles = {
    {"english.lng", "English"},
    {"german.lng", "Deutsch"},
};

std::string ShippedPath(const std::string& name) {
  return std::string(VELMORA_SOURCE_DIR) + "/data/lng/" + name;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The specifiers of a text as a string of conversion letters; '?' marks a "%" that is
// neither "%s", "%d" nor "%%".
std::string Specifiers(const std::string& text) {
  std::string letters;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') continue;
    const char next = i + 1 < text.size() ? text[i + 1] : '\0';
    if (next == '%') {
      ++i;
    } else if (next == 's' || next == 'd') {
      letters.push_back(next);
      ++i;
    } else {
      letters.push_back('?');
    }
  }
  return letters;
}

std::vector<MessageArg> SampleArgs(const std::string& specifiers) {
  std::vector<MessageArg> args;
  int n = 0;
  for (char c : specifiers) {
    ++n;
    if (c == 'd') {
      args.emplace_back(90000 + n);
    } else {
      args.emplace_back("<arg" + std::to_string(n) + ">");
    }
  }
  return args;
}

bool IsValidUtf8(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    if (c < 0x80) {
      extra = 0;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
    } else {
      return false;
    }
    if (extra > 0 && i + extra >= text.size()) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += extra + 1;
  }
  return true;
}

// Whether the user can ever see the control: not hidden itself, not on the hidden page and
// not inside a hidden parent. A form hidden until shown (the progress window) counts as seen.
bool IsShown(const FormModel& form, const Control& control) {
  const Control* c = &control;
  while (c != nullptr && c->kind != ControlKind::Form) {
    if (!c->visible) return false;
    if (c->kind == ControlKind::TabSheet && !c->tabVisible) return false;
    c = form.Has(c->parent) ? &form.Get(c->parent) : nullptr;
  }
  return true;
}

bool TakesCaption(ControlKind kind) {
  const std::vector<TranslatableKind> kinds = TranslatableKinds(kind);
  return std::any_of(kinds.begin(), kinds.end(), [](const TranslatableKind& k) { return k.setsCaption; });
}

class ShippedLanguageFile : public ::testing::TestWithParam<LanguageFile> {
 protected:
  void SetUp() override {
    bytes = ReadBytes(ShippedPath(GetParam().file));
    doc = platform::IniDocument::Parse(bytes);
  }

  std::string bytes;
  platform::IniDocument doc;
};

TEST_P(ShippedLanguageFile, IsCrLfUtf8TextWithoutByteOrderMark) {
  ASSERT_FALSE(bytes.empty());
  EXPECT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_TRUE(IsValidUtf8(bytes));
  EXPECT_EQ(bytes.find('\0'), std::string::npos);
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n') {
      ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << "bare line feed at byte " << i;
    }
    if (bytes[i] == '\r') {
      ASSERT_TRUE(i + 1 < bytes.size() && bytes[i + 1] == '\n') << "bare CR at byte " << i;
    }
  }
}

TEST_P(ShippedLanguageFile, NamesItsLanguage) {
  EXPECT_EQ(doc.Get("About", "TranslateLangName"), GetParam().displayName);
}

TEST_P(ShippedLanguageFile, HoldsExactlyTheCatalogueWithItsSpecifiers) {
  const std::vector<std::string> keys = doc.Keys("Msg");
  const std::set<std::string> keySet(keys.begin(), keys.end());
  EXPECT_EQ(keys.size(), keySet.size()) << "a key occurs twice";
  std::set<std::string> expected;
  for (const auto& [key, specifiers] : kCatalogue) expected.insert(key);
  EXPECT_EQ(keySet, expected);
  EXPECT_EQ(expected.size(), 135u);

  for (const auto& [key, specifiers] : kCatalogue) {
    const std::optional<std::string> text = doc.Get("Msg", key);
    ASSERT_TRUE(text.has_value()) << key;
    EXPECT_FALSE(text->empty()) << key;
    EXPECT_EQ(Specifiers(*text), specifiers) << key << "=" << *text;
  }
}

TEST_P(ShippedLanguageFile, EveryMessageFormatsWithItsArguments) {
  const std::string file = ShippedPath(GetParam().file);
  for (const auto& [key, specifiers] : kCatalogue) {
    const std::vector<MessageArg> args = SampleArgs(specifiers);
    const std::string text = MessageText(file, key, args);
    EXPECT_EQ(text.find("Translation text for"), std::string::npos) << key;
    std::size_t at = 0;
    for (const MessageArg& arg : args) {
      const std::size_t found = text.find(arg.Text(), at);
      ASSERT_NE(found, std::string::npos)
          << key << ": " << arg.Text() << " missing or out of order in " << text;
      at = found + arg.Text().size();
    }
    EXPECT_EQ(text.find('%'), std::string::npos) << key << ": " << text;
  }
}

TEST_P(ShippedLanguageFile, Log55HasNoColon) {
  const std::optional<std::string> text = doc.Get("Msg", "log55");
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(text->find(':'), std::string::npos) << *text;
}

// "Search via Inet" is the link's (Label3) alone: the label beside it shows the picked hardware
// ID, and before one is picked it says so rather than offering the search a second time.
TEST_P(ShippedLanguageFile, SearchViaInetIsOfferedOnce) {
  const std::optional<std::string> link = doc.Get("Mainfrm", "Label3");
  const std::optional<std::string> picked = doc.Get("Mainfrm", "HWIDSelectlb");
  ASSERT_TRUE(link && picked);
  EXPECT_NE(*link, *picked);
}

TEST_P(ShippedLanguageFile, CaptionsOnlyForVisibleTranslatableControls) {
  FormModel mainForm(kMainFormName);
  BuildMainForm(mainForm);
  FormModel waitForm(kWaitFormName);
  BuildWaitForm(waitForm);

  std::set<std::string> captionKeys;
  std::set<std::string> hintKeys;
  for (const std::string& key : doc.Keys("Mainfrm")) {
    if (key.size() > 3 && key.compare(key.size() - 3, 3, "Hnt") == 0) {
      hintKeys.insert(key.substr(0, key.size() - 3));
    } else {
      captionKeys.insert(key);
    }
  }

  // Every caption key names a control the user sees and whose caption is translated.
  for (const std::string& name : captionKeys) {
    bool shown = false;
    bool known = false;
    for (const FormModel* form : {&mainForm, &waitForm}) {
      if (!form->Has(name)) continue;
      known = true;
      const Control& control = form->Get(name);
      EXPECT_TRUE(TakesCaption(control.kind)) << name << " is of a kind that takes no caption";
      shown = shown || IsShown(*form, control);
    }
    EXPECT_TRUE(known) << name << " names no control";
    EXPECT_TRUE(shown) << name << " is a hidden working control";
    EXPECT_EQ(kNeverTranslated.count(name), 0u) << name << " must keep its caption";
    const std::optional<std::string> caption = doc.Get("Mainfrm", name);
    EXPECT_TRUE(caption && !caption->empty()) << name;
  }

  // Every visible control that takes a caption has one, except those kept on purpose.
  for (const FormModel* form : {&mainForm, &waitForm}) {
    for (const Control* control : form->Controls()) {
      if (control->kind == ControlKind::Form || !TakesCaption(control->kind)) continue;
      if (!IsShown(*form, *control) || kNeverTranslated.count(control->name) != 0) continue;
      EXPECT_EQ(captionKeys.count(control->name), 1u)
          << control->name << " has no caption in " << GetParam().file;
    }
  }
  // The two speed buttons have no caption of their own.
  EXPECT_EQ(captionKeys.count("UnpackInstallTntSpeedButton"), 1u);
  EXPECT_EQ(captionKeys.count("UnpackInstallHwidsTntSpeedButton"), 1u);

  // A caption without a hint key would give the control the hint "No Comments";
  // a hint without a caption is never applied.
  EXPECT_EQ(hintKeys, captionKeys);
}

TEST_P(ShippedLanguageFile, NamesAnAboutTextThatShips) {
  const std::optional<std::string> about = doc.Get("About", "AboutFile");
  ASSERT_TRUE(about.has_value());
  const std::string text = ReadBytes(std::string(VELMORA_SOURCE_DIR) + "/data/Data/" + *about);
  EXPECT_TRUE(IsValidUtf8(text));
  EXPECT_NE(text.substr(0, 3), "\xEF\xBB\xBF");
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

INSTANTIATE_TEST_SUITE_P(Shipped, ShippedLanguageFile, ::testing::ValuesIn(kShippedFiles),
                         [](const ::testing::TestParamInfo<LanguageFile>& param) {
                           return std::string(param.param.displayName);
                         });

// With German applied, no text the user sees is left in English: every caption differs from
// both the design caption and the English one.
TEST(ShippedLanguageFiles, GermanLeavesNoVisibleCaptionInEnglish) {
  FormModel mainForm(kMainFormName);
  BuildMainForm(mainForm);
  FormModel waitForm(kWaitFormName);
  BuildWaitForm(waitForm);
  std::map<std::string, std::string> design;
  for (const FormModel* form : {&mainForm, &waitForm}) {
    for (const Control* control : form->Controls()) {
      design[form->name() + "." + control->name] = control->caption;
    }
  }
  TranslateFormComponents({&mainForm, &waitForm}, TextSource({ShippedPath("german.lng")}));
  const TextSource english({ShippedPath("english.lng")});
  int checked = 0;
  for (const FormModel* form : {&mainForm, &waitForm}) {
    for (const Control* control : form->Controls()) {
      // The main window's title is the product's name.
      if (control->name == kMainFormName || kNeverTranslated.count(control->name) != 0) continue;
      if (!IsShown(*form, *control) || !TakesCaption(control->kind)) continue;
      if (control->kind == ControlKind::Edit || control->kind == ControlKind::ComboBox ||
          control->kind == ControlKind::UnicodeComboBox)
        continue;  // texts that are data
      const std::string& original = design[form->name() + "." + control->name];
      EXPECT_NE(control->caption, original) << control->name;
      EXPECT_NE(control->caption, english.Find("Mainfrm", control->name).value_or("")) << control->name;
      EXPECT_FALSE(control->caption.empty()) << control->name;
      ++checked;
    }
  }
  EXPECT_GT(checked, 40);
}

TEST(ShippedLanguageFiles, HoldTheSameCaptionKeys) {
  std::vector<std::vector<std::string>> keySets;
  for (const LanguageFile& language : kShippedFiles) {
    const platform::IniDocument doc = platform::IniDocument::Parse(ReadBytes(ShippedPath(language.file)));
    std::vector<std::string> keys = doc.Keys("Mainfrm");
    std::sort(keys.begin(), keys.end());
    keySets.push_back(std::move(keys));
  }
  for (std::size_t i = 1; i < keySets.size(); ++i) {
    EXPECT_EQ(keySets[i], keySets[0]) << kShippedFiles[i].file << " differs from " << kShippedFiles[0].file;
  }
}

}  // namespace
