// The program's two windows and the behaviour of each kind of control.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "qt_fixture.h"
#include "ui/ufg.h"
#include "ui/zodu1.h"

namespace {

using FormTest = QtFrontEndTest;

TEST_F(FormTest, ProgramWindowsHaveTheirClientSizeCaptionAndBorder) {
  Application->CreateForm(fm);
  Application->CreateForm(fg);
  struct Case {
    TForm* form;
    QSize size;
    bool closeBox;
  } cases[] = {{fm, {365, 138}, true}, {fg, {632, 347}, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.form->Name());
    FormWindow* w = WindowOf(*c.form);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->size(), c.size);
    EXPECT_EQ(w->minimumSize(), w->maximumSize()) << "not resizable";
    EXPECT_EQ(w->windowTitle(), "Spindlex version 2.61");
    Qt::WindowFlags flags = w->windowFlags();
    EXPECT_EQ(bool(flags & Qt::WindowCloseButtonHint), c.closeBox);
    EXPECT_EQ(bool(flags & Qt::WindowSystemMenuHint), c.closeBox);
    EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_FALSE(w->isVisible()) << "shown only when the program shows it";
  }
}

// Every control, of both windows, where the model puts it; labels and check
// boxes may grow to their text but never shrink.
TEST_F(FormTest, EveryControlStandsAtItsModelBounds) {
  Application->CreateForm(fm);
  Application->CreateForm(fg);
  int checked = 0;
  for (TForm* form : {static_cast<TForm*>(fm), static_cast<TForm*>(fg)}) {
    for (const auto& component : form->Components()) {
      auto* control = dynamic_cast<TControl*>(component.get());
      if (!control) continue;
      SCOPED_TRACE(form->Name() + "." + control->Name());
      QWidget* w = WidgetOf(*form, control->Name());
      ASSERT_NE(w, nullptr);
      QRect g = w->geometry();
      EXPECT_EQ(g.topLeft(), QPoint(control->Left(), control->Top()));
      bool label = dynamic_cast<TLabel*>(control), check = dynamic_cast<TCheckBox*>(control);
      if (label || check) {
        EXPECT_GE(g.width(), control->Width());
        EXPECT_GE(g.width(), w->sizeHint().width()) << "its text is not cut off";
      } else {
        EXPECT_EQ(g.width(), control->Width());
      }
      if (label) {
        EXPECT_GE(g.height(), control->Height());
      } else {
        EXPECT_EQ(g.height(), control->Height());
      }
      EXPECT_EQ(w->isVisibleTo(w->window()), control->Visible());
      ++checked;
    }
  }
  EXPECT_EQ(checked, 6 + 9) << "six controls on the main window, nine on the results window";
}

TEST_F(FormTest, MainWindowFontsTabOrderAndDefaultButton) {
  Application->CreateForm(fm);
  auto* status = WidgetOf<QLabel>(*fm, "Label3");
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(status->font().pixelSize(), 16);
  EXPECT_TRUE(status->font().bold());
  // Monospaced by its glyphs: some monospace fonts do not carry the fixed-pitch flag.
  QFontMetrics metrics(status->font());
  EXPECT_EQ(metrics.horizontalAdvance('i'), metrics.horizontalAdvance('W'));
  EXPECT_EQ(status->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  EXPECT_EQ(WidgetOf(*fm, "Label2")->font().pixelSize(), 11);
  EXPECT_EQ(WindowOf(*fm)->palette().color(QPalette::Window), QApplication::palette().color(QPalette::Button));

  const char* order[] = {"cbdrive", "Button2", "cbwrite", "cbSizeCheck"};
  for (int i = 0; i + 1 < 4; ++i) {
    EXPECT_EQ(WidgetOf(*fm, order[i])->nextInFocusChain(), WidgetOf(*fm, order[i + 1])) << order[i];
  }
  EXPECT_TRUE(WidgetOf<QComboBox>(*fm, "cbdrive")->isEditable() == false);
  EXPECT_TRUE(WidgetOf<QPushButton>(*fm, "Button2")->isDefault());
}

// A form with one of each control and counters on their events.
class ControlsForm : public TestForm {
 public:
  ControlsForm() {
    button = Put<TButton>("button", 200, 10, 75, 25);
    check = Put<TCheckBox>("check", 10, 50, 150, 17);
    combo = Put<TComboBox>("combo", 10, 10, 150, 21);
    label = Put<TLabel>("label", 10, 80, 40, 13);
    button->SetCaption("Go");
    check->SetCaption("Option");
    button->SetDefault(true);
    button->OnClick = [this](TObject*) { ++clicks; };
    check->OnClick = [this](TObject*) { ++toggles; };
    combo->OnChange = [this](TObject*) { ++changes; };
  }
  TButton* button;
  TCheckBox* check;
  TComboBox* combo;
  TLabel* label;
  int clicks = 0, toggles = 0, changes = 0;
};

class ControlTest : public QtFrontEndTest {
 protected:
  void SetUp() override {
    QtFrontEndTest::SetUp();
    f = Create<ControlsForm>();
    f->Show();
  }
  template <class W>
  W* Widget(const std::string& name) {
    return WidgetOf<W>(*f, name);
  }
  ControlsForm* f = nullptr;
};

TEST_F(ControlTest, CheckBoxUserToggleFiresOnceAndProgramChangesFollow) {
  auto* box = Widget<QCheckBox>("check");
  const QPoint indicator(6, box->height() / 2);
  QTest::mouseClick(box, Qt::LeftButton, {}, indicator);
  EXPECT_TRUE(f->check->Checked());
  EXPECT_EQ(f->toggles, 1);
  f->check->SetChecked(false);  // the model fires OnClick itself; the widget must not add one
  Application->ProcessMessages();
  EXPECT_FALSE(box->isChecked());
  EXPECT_EQ(f->toggles, 2);

  // A handler that refuses the new state: the box shows the model's state.
  f->check->OnClick = [this](TObject*) {
    ++f->toggles;
    if (f->check->Checked()) f->check->SetChecked(false);
  };
  QTest::mouseClick(box, Qt::LeftButton, {}, indicator);
  EXPECT_FALSE(f->check->Checked());
  EXPECT_FALSE(box->isChecked());
}

TEST_F(ControlTest, ComboShowsItemsAndAUserPickGoesThroughPick) {
  f->combo->AddItem("first");
  f->combo->AddItem("second");
  f->combo->SetItemIndex(0);
  auto* box = Widget<QComboBox>("combo");
  ASSERT_EQ(box->count(), 2);
  EXPECT_EQ(box->itemText(1), "second");
  EXPECT_EQ(box->currentIndex(), 0);
  EXPECT_EQ(f->changes, 0) << "a program change fires nothing";
  box->setFocus();
  QTest::keyClick(box, Qt::Key_Down);
  EXPECT_EQ(f->combo->ItemIndex(), 1);
  EXPECT_EQ(f->changes, 1);
  f->combo->ClearItems();
  EXPECT_EQ(box->count(), 0);
}

TEST_F(ControlTest, ButtonClickAndEnterPressTheDefaultButtonOnlyWhenEnabled) {
  auto* push = Widget<QPushButton>("button");
  EXPECT_EQ(push->text(), "Go");
  QTest::mouseClick(push, Qt::LeftButton);
  EXPECT_EQ(f->clicks, 1);
  auto* combo = Widget<QComboBox>("combo");
  combo->setFocus();
  QTest::keyClick(combo, Qt::Key_Return);
  EXPECT_EQ(f->clicks, 2);
  f->button->SetEnabled(false);
  EXPECT_FALSE(push->isEnabled());
  QTest::keyClick(combo, Qt::Key_Return);
  QTest::mouseClick(push, Qt::LeftButton);
  EXPECT_EQ(f->clicks, 2);
}

TEST_F(ControlTest, CaptionAndVisibilityChangesReachTheWidgets) {
  auto* label = Widget<QLabel>("label");
  f->label->SetCaption("a caption much wider than the label was laid out");
  EXPECT_EQ(label->text(), "a caption much wider than the label was laid out");
  EXPECT_GE(label->width(), label->sizeHint().width()) << "labels grow to their text";
  f->label->SetVisible(false);
  EXPECT_FALSE(label->isVisible());
  f->SetCaption("renamed");
  EXPECT_EQ(WindowOf(*f)->windowTitle(), "renamed");
  f->Hide();
  EXPECT_FALSE(WindowOf(*f)->isVisible());
}

TEST_F(FormTest, ClosingTheMainWindowEndsRunAndAWindowWithoutCloseBoxStays) {
  Application->CreateForm(fm);
  Application->CreateForm(fg);
  fm->Show();
  fg->Show();
  FormWindow* results = WindowOf(*fg);
  EXPECT_FALSE(results->close());
  EXPECT_TRUE(results->isVisible());
  EXPECT_TRUE(fg->Visible());

  FormWindow* main = WindowOf(*fm);
  QTimer::singleShot(0, main, [main] { main->close(); });
  Application->Run();  // returns once the close has ended the application
  EXPECT_TRUE(Application->Terminated());
  EXPECT_FALSE(fm->Visible());
  EXPECT_FALSE(main->isVisible());
}

}  // namespace
