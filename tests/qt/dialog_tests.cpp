// Modal dialogs: icons, buttons, answers, and the hook that closes them.
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTemporaryDir>

#include "qt_fixture.h"

namespace {

using DialogTest = QtFrontEndTest;

TEST_F(DialogTest, MessageDlgShowsTheTypesIconAndReturnsTheButtonPressed) {
  struct Case {
    TMsgDlgType type;
    TMsgDlgButtons buttons;
    int answer, want;
    QMessageBox::Icon icon;
    int buttonCount;
  } cases[] = {
      {mtInformation, mbYes | mbNo, mrYes, mrYes, QMessageBox::Information, 2},
      {mtInformation, mbYes | mbNo, mrNo, mrNo, QMessageBox::Information, 2},
      {mtError, mbOK, mrOk, mrOk, QMessageBox::Critical, 1},
      {mtWarning, mbOK, mrOk, mrOk, QMessageBox::Warning, 1},
      {mtConfirmation, mbYes | mbNo, mrOk, mrNo, QMessageBox::Question, 2},  // no OK: closed, which is No
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(MsgDlgTypeName(c.type)) + " answered " + std::to_string(c.answer));
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
    std::string seen;
    SetDialogAutoAnswer([&](const std::string& text) {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box) {
        icon = box->icon();
        buttons = static_cast<int>(box->buttons().size());
      }
      seen = text;
      return c.answer;
    });
    EXPECT_EQ(MessageDlg("Continue?", c.type, c.buttons, 0), c.want);
    EXPECT_EQ(seen, "Continue?");
    EXPECT_EQ(icon, c.icon);
    EXPECT_EQ(buttons, c.buttonCount);
  }
}

TEST_F(DialogTest, MessageBoxHasTheCaptionAndOk) {
  QString title;
  SetDialogAutoAnswer([&](const std::string&) {
    if (QWidget* w = QApplication::activeModalWidget()) title = w->windowTitle();
    return mrOk;
  });
  EXPECT_EQ(ActiveFrontEnd()->MessageBox("Error opening RERODE.VXD.", "ZIZADU", 0), mrOk);
  EXPECT_EQ(title, "ZIZADU");
}

TEST(ScreenshotTest, ShownWindowsAreSavedAtThePumpAndWhenHidden) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  qputenv("SPINDLEX_SCREENSHOTS", dir.path().toLocal8Bit());
  int argc = 0;
  SetFrontEnd(MakeQtFrontEnd(argc, nullptr));
  qunsetenv("SPINDLEX_SCREENSHOTS");
  TestForm* form = nullptr;
  Application->CreateForm(form);
  form->Show();
  Application->ProcessMessages();
  QImage shot(dir.filePath("test.png"));
  EXPECT_EQ(shot.size(), QSize(400, 300));
  QFile::remove(dir.filePath("test.png"));
  form->Hide();
  EXPECT_TRUE(QFile::exists(dir.filePath("test.png"))) << "its last look, saved as it goes";
  SetFrontEnd(nullptr);
  ResetApplication();
}

}  // namespace
