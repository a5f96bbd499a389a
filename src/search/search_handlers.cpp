// Driver search by hardware ID: the INF index, the search, the selective extraction.
// These operations come with the driver search; until then they do nothing.
#include "app/main_form.h"

void TMainfrm::ExtractINFsbtnClick() {}
void TMainfrm::SearchByHWIDSbtnClick() {}
void TMainfrm::PrepareUnpackFilesbtnClick() {}
void TMainfrm::InstallHWIDsbtnClick() {}
