// INI documents: any bytes parse; the one-pass look-ups over the text agree with the parsed
// document; a value that CanStore accepts reads back (blanks around it aside) after a write and
// a new parse, and the write changes no other key.
// Input: section \x01 key \x01 value \x01 document text.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "platform/ini_text.h"

using platform::IniDocument;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input input(data, size);
  const std::string section = input.Part();
  const std::string key = input.Part();
  const std::string value = input.Part();
  const std::string text = input.Rest();

  const IniDocument document = IniDocument::Parse(text);
  fuzz::Check(IniDocument::Find(text, section, key) == document.Get(section, key), "Find equals Get");
  const auto sections = document.SectionNames();
  fuzz::Check(IniDocument::SectionNamesOf(text) == sections, "SectionNamesOf equals SectionNames");
  fuzz::Check(IniDocument::KeysOf(text, section) == document.Keys(section), "KeysOf equals Keys");

  // Written out and parsed again, the document answers as before.
  const std::string written = document.ToText();
  const IniDocument reread = IniDocument::Parse(written);
  fuzz::Check(reread.SectionNames() == sections, "sections survive a write");
  for (const auto& name : sections) {
    const auto keys = document.Keys(name);
    fuzz::Check(reread.Keys(name) == keys, "keys survive a write");
    for (const auto& k : keys)
      fuzz::Check(reread.Get(name, k) == document.Get(name, k), "values survive a write");
  }

  if (!IniDocument::CanStore(section, key, value)) return 0;
  // Blanks around a value are not part of it when it is read, as with any value in the file.
  const std::size_t first = value.find_first_not_of(" \t\v\f");
  const std::string stored =
      first == std::string::npos ? "" : value.substr(first, value.find_last_not_of(" \t\v\f") - first + 1);
  IniDocument changed = IniDocument::Parse(text);
  changed.Set(section, key, value);
  const std::string changedText = changed.ToText();
  fuzz::Check(IniDocument::SetInText(text, section, key, value) == changedText, "SetInText equals Set");
  fuzz::Check(changed.Get(section, key) == stored, "a stored value reads back");
  const IniDocument after = IniDocument::Parse(changedText);
  fuzz::Check(after.Get(section, key) == stored, "a stored value reads back after a new parse");
  // Every other key of every section keeps its value.
  for (const auto& name : sections) {
    for (const auto& k : document.Keys(name)) {
      if (IniDocument::Parse("[" + name + "]\r\n" + k + "=1").Get(section, key)) continue;  // the same key
      fuzz::Check(after.Get(name, k) == document.Get(name, k), "other keys keep their values");
    }
  }
  return 0;
}
