// The main window and the progress window as they are designed: every control with its
// kind, parent, design caption and hint, and the handler its events run.
#pragma once

#include "base/form_model.h"

inline constexpr const char* kMainFormName = "Mainfrm";
inline constexpr const char* kWaitFormName = "Waitfrm";

void BuildMainForm(FormModel& form);
void BuildWaitForm(FormModel& form);
