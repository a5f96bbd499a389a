// The front end over a real main window in a temporary program folder: start-up, the first
// activation without a window manager, routing to the window's handlers, fresh progress
// windows and the page pictures.
#include "ui/qt/front_end.h"

#include <gtest/gtest.h>

#include <QTabWidget>
#include <QTest>
#include <algorithm>

#include "support/app_fixture.h"
#include "ui/qt/item_list_view.h"

namespace {

class FrontEndTest : public AppFixture {};

TEST_F(FrontEndTest, StartRunsFormCreateShowsTheWindowAndActivatesOnce) {
  Make({"/inir"});
  FrontEnd frontEnd(*main, nullptr);
  frontEnd.Start();
  EXPECT_TRUE(frontEnd.MainRenderer().Window()->isVisible());
  // The log holds the banner of FormCreate, also in the view.
  auto* log = qobject_cast<ItemListView*>(frontEnd.MainRenderer().Widget("LogLbx"));
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(static_cast<std::size_t>(log->model()->rowCount()), main->Form().Lines("LogLbx").ToVector().size());
  EXPECT_EQ(main->Form().Lines("LogLbx").ToVector().front(), std::string(129, '='));

  // The offscreen platform has no window manager: the activation comes from the front end.
  ASSERT_TRUE(QTest::qWaitFor([&] { return main->Caption("StopVolatileed") == "FORMACTIVE"; }, 5000));
  QTest::qWait(50);
  const std::vector<std::string> keys = LogKeys();
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "log40"), 1);
  ASSERT_FALSE(keys.empty());
  EXPECT_EQ(keys.back(), "log44");
  const std::vector<std::string> texts = LogTexts();
  EXPECT_EQ(std::count_if(texts.begin(), texts.end(),
                          [](const std::string& t) { return t.rfind("log40|/inir|", 0) == 0; }),
            1);
  EXPECT_TRUE(ui.shown.empty());
  frontEnd.Finish();
}

TEST_F(FrontEndTest, ClicksReachTheMainWindowsHandlers) {
  Start();
  FrontEnd frontEnd(*main, nullptr);
  QWidget* mail = frontEnd.MainRenderer().Widget("Label6");
  ASSERT_NE(mail, nullptr);
  frontEnd.MainRenderer().Window()->show();
  QTest::mouseClick(mail, Qt::LeftButton, {}, QPoint(3, mail->height() / 2));
  ASSERT_EQ(ui.urls.size(), 1u);
  EXPECT_EQ(ui.urls.front().substr(0, 7), "mailto:");
}

// A fresh progress window is the one window there is, made fresh: it is drawn by the one
// renderer, and no hidden window is left behind per operation.
TEST_F(FrontEndTest, EveryFreshProgressWindowIsRendered) {
  Make();
  FrontEnd frontEnd(*main, nullptr);
  ASSERT_EQ(frontEnd.WaitRenderers().size(), 1u);
  main->Waitfrm().SetCaption("UnpackingLbl", "Unpacking a.7z");
  FormModel& fresh = main->NewWaitfrm();
  main->NewWaitfrm();
  ASSERT_EQ(frontEnd.WaitRenderers().size(), 1u);
  FormRenderer& view = *frontEnd.WaitRenderers().back();
  EXPECT_EQ(&view.Model(), &fresh);
  EXPECT_EQ(view.Window()->parentWidget(), frontEnd.MainRenderer().Window());
  fresh.SetCaption("UnpackingLbl", "Unpacking b.7z");
  EXPECT_EQ(qobject_cast<QLabel*>(view.Widget("UnpackingLbl"))->text(), QStringLiteral("Unpacking b.7z"));
}

TEST_F(FrontEndTest, SavesAPictureOfEveryPageWithATab) {
  Start();
  FrontEnd frontEnd(*main, nullptr);
  frontEnd.MainRenderer().ShowWindow();
  const std::string folder = tmp.File("shots");
  ASSERT_TRUE(frontEnd.SaveScreenshots(folder));
  for (const char* name : {"shots/page-0.png", "shots/page-1.png", "shots/page-2.png", "shots/page-3.png",
                           "shots/waitfrm.png"}) {
    EXPECT_TRUE(tmp.Exists(name)) << name;
  }
  EXPECT_FALSE(tmp.Exists("shots/page-4.png"));
  // The page shown before is shown again, and the progress window is hidden again.
  EXPECT_EQ(main->Form().ItemIndex("MainPageControle"), 0);
  EXPECT_FALSE(frontEnd.WaitRenderers().back()->Window()->isVisible());
}

}  // namespace
