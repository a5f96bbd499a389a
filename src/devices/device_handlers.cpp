// The HWIDs-extended page: collections, selection helpers, reports, tree text and XML.
#include "app/main_form.h"

void TMainfrm::CutDecreaseHWIDSbtnClick() {}
void TMainfrm::GetDevlbBtnClick() {}
void TMainfrm::CollectHWIDsimpleButtonClick() { GetDevlbBtnClick(); }
void TMainfrm::CollectClassesBtClick() {}
void TMainfrm::HWIDSforWorkcbxSelect() {}
void TMainfrm::HWIDSelectlbClick() {}
void TMainfrm::HWIDSlabelClick() {}
void TMainfrm::EqTreeViewClick() {}
void TMainfrm::LoadListbtClick() {}
void TMainfrm::ConvertLoadBtClick() {}
void TMainfrm::TreeLoadBtClick() {}
void TMainfrm::SaveHWIDSbtnClick() {}
void TMainfrm::SaveHWIDsSimpleButtonClick() {}
void TMainfrm::Tree2XMLBtnClick() {}
void TMainfrm::XML2TreeBtnClick() {}
