// Handing the unpacked drivers to the driver package installer.
#include "app/main_form.h"

void TMainfrm::InstallDPbtnClick() {}
