// The widgets that show the form library's controls, and the conversions of
// its fonts and colours to Qt's.
#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QWidget>
#include <functional>

#include "vcl.h"

// 0x00BBGGRR, or a system colour taken from the palette; clNone: transparent.
QColor ToQColor(TColor color, const QPalette& palette);
// "MS Sans Serif": the system sans-serif font; "Fixedsys": a bold monospace
// font; both at the model's character height in pixels.
QFont ToQFont(const TFont& font);

// The top-level window of a form: fixed client size, its border style and
// icons as window flags, Enter presses the default button.
class FormWindow : public QWidget {
 public:
  explicit FormWindow(TForm& form);
  TForm& Form() const { return form_; }
  // Caption, size, flags and colour from the model.
  void SyncFromModel();
  // Places the window as the form's Position asks, once, at its first show.
  void PlaceOnFirstShow();
  // The widget of the default button, pressed by Enter; nullptr: none.
  std::function<QWidget*()> defaultButton;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  TForm& form_;
  bool placed_ = false;
};

// Creates the widget of a control on its form's window (nullptr: a kind this
// front end does not show) and wires the user's actions to the model.
QWidget* MakeControlWidget(TControl& control, QWidget* parent);
// Brings a control's widget in line with the model after a change.
void UpdateControlWidget(QWidget* widget, TControl& control, TChange what);
