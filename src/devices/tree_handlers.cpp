// The device tree: conversion of the driver-files report, tree text and XML, saved reports.
#include "app/main_form.h"
#include "devices/tree_text.h"
#include "devices/tree_xml.h"
#include "platform/files.h"
#include "shared/shared_functions.h"

namespace {

// Tells the views that the tree changed, also when loading it stopped half-way.
struct TreeChangedOnExit {
  FormModel& form;
  ~TreeChangedOnExit() { form.TreeChanged("EqTreeView"); }
};

}  // namespace

void TMainfrm::ConvertLoadBtClick() {
  const std::string workdir = Caption("Workdir");
  TreeRoots& tree = form_.Tree("EqTreeView");
  TreeChangedOnExit notify{form_};

  const std::string oldTree = workdir + "oldtree.txt";
  SaveTreeText(tree, oldTree);
  LogKey("log6", {oldTree});

  ClearTree(tree);
  std::vector<std::string> converted{GetComputerNetName()};
  for (const std::string& line : form_.Items("FirstFilterlb")) converted.push_back(ConvertLine(line));
  form_.SetItems("SecondFilterlb", std::move(converted));

  const std::string newTree = workdir + "newtree.txt";
  platform::WriteTextLines(newTree, form_.Items("SecondFilterlb"));
  LogKey("log6", {newTree});
  LoadTreeText(tree, newTree);
  LogKey("log7", {newTree});
}

void TMainfrm::TreeLoadBtClick() {
  TreeChangedOnExit notify{form_};
  LoadTreeText(form_.Tree("EqTreeView"), "newtree.txt");
}

// Asks for a name and saves the report assembled by `fill` under it.
static void SaveReport(TMainfrm& w, const std::function<void(std::vector<std::string>&, const std::string&)>& fill) {
  auto chosen = w.Ui().SaveFile("Text file|*.txt|", platform::CurrentDirectory(), LogzTimeAndDate(1));
  if (!chosen) {
    w.ShowInfo(w.Msg("msg8"));
    return;
  }
  const std::string header = LogzTimeAndDate(1) + "Prepared by" + kApplicationTitle;
  w.Form().ClearItems("Savelb");
  std::vector<std::string> report;
  fill(report, header);
  w.Form().SetItems("Savelb", std::move(report));
  const std::string target = *chosen + "- Velmora_TAVI HWID s" + ".txt";
  platform::WriteTextLines(target, w.Form().Items("Savelb"));
  const std::string saved = w.Msg("log59", {target});
  w.Log(saved);
  w.ShowMessage(saved);
}

void TMainfrm::SaveHWIDSbtnClick() {
  const std::string source = Caption("Workdir") + "newtree.txt";
  SaveReport(*this, [&](std::vector<std::string>& report, const std::string& header) {
    report.push_back(header);
    for (std::string& line : platform::ReadTextLines(source)) report.push_back(std::move(line));
  });
}

void TMainfrm::SaveHWIDsSimpleButtonClick() {
  const std::string source = Caption("Workdir") + "HWIDSL.txt";
  SaveReport(*this, [&](std::vector<std::string>& report, const std::string& header) {
    report = platform::ReadTextLines(source);
    report.push_back(header);
  });
}

void TMainfrm::Tree2XMLBtnClick() {
  LogKey("log67");
  Tree2XML(form_.Tree("EqTreeView"), env_.programFile, Caption("Workdir") + "VelmoraTAVI.XML");
  LogKey("log68");
}

void TMainfrm::XML2TreeBtnClick() {
  TreeChangedOnExit notify{form_};
  XML2Tree(form_.Tree("EqTreeView"), Caption("Workdir") + "VelmoraTAVI.XML");
  LogKey("log69");
  UseTreeIds(Caption("Workdir") + "VelmoraTAVI.XML");
}
