// Whole-pack unpacking with the archive tool, and the progress window's gauge rule.
#include "app/main_form.h"

void TMainfrm::RunWithOutputClick() {}
void TMainfrm::UnpackDriverPacks1Click() {
  SetCaption("CMDUnpackMethoded", "1");
  RunWithOutputClick();
}
void TMainfrm::UnpackDriverPacks2method1Click() {
  SetCaption("CMDUnpackMethoded", "2");
  RunWithOutputClick();
}
void TMainfrm::UnpackJvArrowButtonClick() {
  NewWaitfrm();
  SetCaption("CMDUnpackMethoded", "2");
  RunWithOutputClick();
}
void TMainfrm::CMDTemplbDrawItem() {}
