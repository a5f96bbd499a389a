// The Qt dialogs: file filters in Qt's form, one busy cursor however often it is asked for,
// and an error box that does not wait during a command-line run.
#include "ui/qt/qt_ui_port.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

TEST(QtUiPort, ConvertsFiltersToQtsForm) {
  struct Case {
    const char* filter;
    const char* expected;
  };
  for (const Case& c :
       {Case{"7z files|*.7z|", "7z files (*.7z)"}, Case{"Text file|*.txt|", "Text file (*.txt)"},
        Case{"Text file|*.txt", "Text file (*.txt)"},
        Case{"Packs|*.7z;*.zip|All files|*.*|", "Packs (*.7z *.zip);;All files (*.*)"},
        Case{"|*.log|", "*.log (*.log)"}, Case{"", ""}, Case{"Only a description", ""},
        Case{"Empty patterns||Text|*.txt|", "Text (*.txt)"}}) {
    EXPECT_EQ(QtUiPort::ConvertFilter(c.filter).toStdString(), c.expected) << c.filter;
  }
}

TEST(QtUiPort, KeepsOneBusyCursorAndRestoresIt) {
  QtUiPort ui;
  ui.SetBusyCursor(true);
  ui.SetBusyCursor(true);
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  ui.SetBusyCursor(false);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  ui.SetBusyCursor(false);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(QtUiPort, QuestionsShowTheButtonTextsOfTheLanguage) {
  struct Case {
    const char* yes;
    const char* no;
    QMessageBox::StandardButton pressed;
    QStringList shown;
    bool answer;
  };
  const Case cases[] = {
      {"Ja", "Nein", QMessageBox::Yes, {"Ja", "Nein"}, true},
      {"Ja", "Nein", QMessageBox::No, {"Ja", "Nein"}, false},
      // An ampersand is shown as itself, not taken for a keyboard accelerator.
      {"Oui & go", "Non", QMessageBox::Yes, {"Oui && go", "Non"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.yes);
    QtUiPort ui;
    ui.SetAnswerTexts(c.yes, c.no);
    QStringList shown;
    QTimer::singleShot(0, [&] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (box == nullptr || !box->isVisible()) continue;
        shown << box->button(QMessageBox::Yes)->text() << box->button(QMessageBox::No)->text();
        box->button(c.pressed)->click();
      }
    });
    EXPECT_EQ(ui.AskYesNo("Weiter?", "Velmora"), c.answer);
    EXPECT_EQ(shown, c.shown);
  }
}

TEST(QtUiPort, AnErrorDuringACommandLineRunDoesNotWait) {
  QtUiPort ui;
  ui.SetUnattended(true);
  ui.ShowError("Archive not found");  // returns at once; a modal box would block here
  QMessageBox* shown = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (box != nullptr && box->isVisible() && box->text() == QStringLiteral("Archive not found")) shown = box;
  }
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(shown->icon(), QMessageBox::Critical);
  EXPECT_FALSE(shown->isModal());
  shown->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace
