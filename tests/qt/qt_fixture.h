// A fresh Qt front end and Application per test, and ways to reach the
// widgets that show a form's components.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QWidget>

#include "frontend.h"
#include "qtcontrols.h"
#include "qtfrontend.h"

class QtFrontEndTest : public testing::Test {
 protected:
  void SetUp() override { SetFrontEnd(MakeQtFrontEnd(argc_, nullptr)); }
  void TearDown() override {
    SetDialogAutoAnswer(nullptr);
    SetFrontEnd(nullptr);
    ResetApplication();
  }

  template <class T>
  static T* Create() {
    T* form = nullptr;
    Application->CreateForm(form);
    return form;
  }

  static FormWindow* WindowOf(const TForm& form) {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* window = dynamic_cast<FormWindow*>(w);
      if (window && &window->Form() == &form) return window;
    }
    return nullptr;
  }

  template <class W = QWidget>
  static W* WidgetOf(const TForm& form, const std::string& name) {
    FormWindow* window = WindowOf(form);
    return window ? window->findChild<W*>(QString::fromStdString(name)) : nullptr;
  }

 private:
  int argc_ = 0;
};

// A form of our own that exposes Add for building test layouts.
class TestForm : public TForm {
 public:
  TestForm() : TForm("test") { SetClientSize(400, 300); }
  using TForm::Add;
  template <class T>
  T* Put(const std::string& name, int left, int top, int width, int height) {
    T* c = Add<T>(name);
    c->SetBounds(left, top, width, height);
    return c;
  }
};

// Pixels of img inside rect that are close to colour.
inline int CountColour(const QImage& img, QColor colour, QRect rect = {}) {
  if (rect.isNull()) rect = img.rect();
  int n = 0;
  for (int y = rect.top(); y <= rect.bottom(); ++y) {
    for (int x = rect.left(); x <= rect.right(); ++x) {
      QColor c = img.pixelColor(x, y);
      if (std::abs(c.red() - colour.red()) < 40 && std::abs(c.green() - colour.green()) < 40 &&
          std::abs(c.blue() - colour.blue()) < 40) {
        ++n;
      }
    }
  }
  return n;
}
