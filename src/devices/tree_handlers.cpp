// The device tree: conversion of the driver-files report, tree text and XML, saved reports.
#include "app/main_form.h"

void TMainfrm::ConvertLoadBtClick() {}
void TMainfrm::TreeLoadBtClick() {}
void TMainfrm::SaveHWIDSbtnClick() {}
void TMainfrm::SaveHWIDsSimpleButtonClick() {}
void TMainfrm::Tree2XMLBtnClick() {}
void TMainfrm::XML2TreeBtnClick() {}
