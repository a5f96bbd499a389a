// Captions and hints of the windows from a language file, and the inventory of the
// translatable controls.
#pragma once

#include <string>
#include <vector>

#include "base/form_model.h"
#include "lang/messages.h"

// What a control of a kind takes from the language file.
struct TranslatableKind {
  const char* section;  // inventory section; null when the kind is not listed there
  bool setsCaption;     // key N sets the caption (or text)
  bool hintOnly;        // plain list boxes: only the hint, and only when key N is present
};
// The kinds a control counts as, in the order the inventory tests them; empty when not handled.
std::vector<TranslatableKind> TranslatableKinds(ControlKind kind);

// Whether language files (and the inventory) write the captions of a kind with keyboard
// accelerator marks: "&&" stands for one ampersand, a single "&" marks the letter after it and
// is not shown. The windows' models hold every caption as it is shown.
bool CaptionHasAccelerators(ControlKind kind);
// A caption written with accelerator marks as it is shown ("Unpack all && Install" shows as
// "Unpack all & Install"), and back (every "&" doubled).
std::string ShownCaption(const std::string& marked);
std::string MarkedCaption(const std::string& shown);

// Replaces captions and hints of every control of the given windows from section "Mainfrm"
// of the text sources: a key the chosen language file lacks comes from the English file or
// the built-in English texts, so no control is left without its text.
void TranslateFormComponents(const std::vector<FormModel*>& forms, const TextSource& texts);
