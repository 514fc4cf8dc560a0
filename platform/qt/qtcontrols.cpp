#include "qtcontrols.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>

#include "qtchart.h"
#include "tee.h"

QColor ToQColor(TColor color, const QPalette& palette) {
  if (color == clNone) return QColor(Qt::transparent);
  if (color & 0x80000000u) {
    // The form library's system colour indexes, as far as forms use them.
    switch (color & 0xFF) {
      case 0x05: return palette.color(QPalette::Base);            // window
      case 0x08: return palette.color(QPalette::WindowText);      // window text
      case 0x0D: return palette.color(QPalette::Highlight);       // highlight
      case 0x0E: return palette.color(QPalette::HighlightedText);
      case 0x0F: return palette.color(QPalette::Button);          // button face
      case 0x10: return palette.color(QPalette::Dark);            // button shadow
      case 0x12: return palette.color(QPalette::ButtonText);
      case 0x14: return palette.color(QPalette::Light);           // button highlight
      case 0x17: return palette.color(QPalette::ToolTipText);     // info text
      case 0x18: return palette.color(QPalette::ToolTipBase);     // info background
      default: return palette.color(QPalette::WindowText);
    }
  }
  return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

QFont ToQFont(const TFont& font) {
  QFont q;
  if (font.Name == "Fixedsys") {
    q = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    q.setStyleHint(QFont::Monospace);
    q.setBold(true);
  } else if (font.Name.empty() || font.Name == "MS Sans Serif") {
    q = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    q.setStyleHint(QFont::SansSerif);
  } else {
    q = QFont(QString::fromStdString(font.Name));
  }
  q.setPixelSize(std::max(1, font.Height));
  if (font.Bold) q.setBold(true);
  return q;
}

// ---- form windows

FormWindow::FormWindow(TForm& form) : QWidget(nullptr), form_(form) {
  setAutoFillBackground(true);
  SyncFromModel();
}

void FormWindow::SyncFromModel() {
  setWindowTitle(QString::fromStdString(form_.Caption()));
  Qt::WindowFlags flags = Qt::Window;
  unsigned icons = form_.BorderIcons();
  if (form_.BorderStyle() == bsNone) {
    flags |= Qt::FramelessWindowHint;
  } else {
    // Only the buttons the form asks for: no system menu means no close box either.
    flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (icons & biSystemMenu) {
      flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
      if (icons & biMinimize) flags |= Qt::WindowMinimizeButtonHint;
      if ((icons & biMaximize) && form_.BorderStyle() == bsSizeable) flags |= Qt::WindowMaximizeButtonHint;
    }
  }
  if (flags != windowFlags()) setWindowFlags(flags);  // hides the window: the caller shows it again
  if (form_.BorderStyle() == bsSizeable) {
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    resize(form_.ClientWidth(), form_.ClientHeight());
  } else {
    setFixedSize(form_.ClientWidth(), form_.ClientHeight());
  }
  QPalette pal = QApplication::palette();
  pal.setColor(QPalette::Window, ToQColor(form_.Color(), pal));
  setPalette(pal);
  setFont(ToQFont(form_.Font()));
}

void FormWindow::PlaceOnFirstShow() {
  if (placed_) return;
  placed_ = true;
  if (form_.Position() == poDesigned) {
    move(form_.Left(), form_.Top());
  } else if (form_.Position() == poScreenCenter) {
    if (QScreen* screen = QApplication::primaryScreen()) {
      QRect area = screen->availableGeometry();
      move(area.center() - QPoint(width() / 2, height() / 2));
    }
  }
}

void FormWindow::closeEvent(QCloseEvent* event) {
  // A window without a system menu has no close box; other close requests
  // (a window manager's) are refused too.
  event->ignore();
  if (!(form_.BorderIcons() & biSystemMenu)) return;
  form_.Close();
}

void FormWindow::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && defaultButton) {
    if (auto* button = static_cast<QPushButton*>(defaultButton()); button && button->isEnabled() && button->isVisible()) {
      button->click();
      return;
    }
  }
  QWidget::keyPressEvent(event);
}

// ---- controls

namespace {

void ApplyFont(QWidget* widget, const TControl& control) {
  widget->setFont(ToQFont(control.Font()));
  QPalette pal = widget->palette();
  QColor text = ToQColor(control.Font().Color, QApplication::palette());
  pal.setColor(QPalette::WindowText, text);
  pal.setColor(QPalette::ButtonText, text);
  pal.setColor(QPalette::Text, text);
  widget->setPalette(pal);
}

// Labels size themselves to their text, as the form library's do, and check
// boxes widen to theirs (the system font is wider than the one the forms were
// laid out in): the model's size is the least they take.
void ApplyBounds(QWidget* widget, const TControl& control) {
  int width = control.Width(), height = control.Height();
  if (dynamic_cast<QLabel*>(widget)) {
    width = std::max(width, widget->sizeHint().width());
    height = std::max(height, widget->sizeHint().height());
  } else if (dynamic_cast<QCheckBox*>(widget)) {
    width = std::max(width, widget->sizeHint().width());
  }
  widget->setGeometry(control.Left(), control.Top(), width, height);
}

void FillItems(QComboBox* box, const TComboBox& model) {
  QSignalBlocker block(box);
  box->clear();
  for (const std::string& item : model.Items()) box->addItem(QString::fromStdString(item));
  box->setCurrentIndex(model.ItemIndex());
}

}  // namespace

QWidget* MakeControlWidget(TControl& control, QWidget* parent) {
  QWidget* w = nullptr;
  if (auto* chart = dynamic_cast<TChart*>(&control)) {
    w = new ChartWidget(*chart, parent);
  } else if (dynamic_cast<TLabel*>(&control)) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    w = label;
  } else if (auto* button = dynamic_cast<TButton*>(&control)) {
    auto* push = new QPushButton(parent);
    // Enter presses the focused button, as on the form library's platform.
    push->setAutoDefault(true);
    push->setDefault(button->Default());
    QObject::connect(push, &QPushButton::clicked, push, [button] { button->Click(); });
    w = push;
  } else if (auto* check = dynamic_cast<TCheckBox*>(&control)) {
    auto* box = new QCheckBox(parent);
    // clicked comes from the user only; the model fires OnClick and may
    // refuse the state, so the widget follows the model afterwards.
    QObject::connect(box, &QCheckBox::clicked, box, [check, box](bool on) {
      check->SetChecked(on);
      QSignalBlocker block(box);
      box->setChecked(check->Checked());
    });
    w = box;
  } else if (auto* combo = dynamic_cast<TComboBox*>(&control)) {
    auto* box = new QComboBox(parent);
    box->setEditable(false);
    QObject::connect(box, &QComboBox::activated, box, [combo, box](int index) {
      combo->Pick(index);
      QSignalBlocker block(box);
      box->setCurrentIndex(combo->ItemIndex());
    });
    w = box;
  }
  if (!w) return nullptr;
  for (TChange what : {TChange::Font, TChange::Caption, TChange::Items, TChange::Checked, TChange::Enabled,
                       TChange::Bounds, TChange::Visible}) {
    UpdateControlWidget(w, control, what);
  }
  return w;
}

void UpdateControlWidget(QWidget* w, TControl& control, TChange what) {
  switch (what) {
    case TChange::Caption: {
      QString text = QString::fromStdString(control.Caption());
      if (auto* label = dynamic_cast<QLabel*>(w)) {
        label->setText(text);
        ApplyBounds(w, control);
      } else if (auto* button = dynamic_cast<QAbstractButton*>(w)) {
        button->setText(text);
        ApplyBounds(w, control);
      }
      break;
    }
    case TChange::Visible:
      w->setVisible(control.Visible());
      break;
    case TChange::Enabled:
      w->setEnabled(control.Enabled());
      break;
    case TChange::Checked:
      if (auto* box = dynamic_cast<QCheckBox*>(w)) {
        QSignalBlocker block(box);
        box->setChecked(static_cast<TCheckBox&>(control).Checked());
      }
      break;
    case TChange::Items:
      if (auto* box = dynamic_cast<QComboBox*>(w)) FillItems(box, static_cast<TComboBox&>(control));
      break;
    case TChange::ItemIndex:
      if (auto* box = dynamic_cast<QComboBox*>(w)) {
        QSignalBlocker block(box);
        box->setCurrentIndex(static_cast<TComboBox&>(control).ItemIndex());
      }
      break;
    case TChange::Bounds:
      ApplyBounds(w, control);
      break;
    case TChange::Font:
      ApplyFont(w, control);
      ApplyBounds(w, control);
      if (auto* chart = dynamic_cast<ChartWidget*>(w)) chart->MarkDirty();
      break;
    case TChange::Chart:
      if (auto* chart = dynamic_cast<ChartWidget*>(w)) chart->MarkDirty();
      break;
  }
}
