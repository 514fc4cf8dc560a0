#include "qtfrontend.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "qtchart.h"
#include "qtcontrols.h"
#include "system.h"
#include "tee.h"

namespace {

std::function<int(const std::string&)>& AutoAnswer() {
  static std::function<int(const std::string&)> answer;
  return answer;
}

// SPINDLEX_QT_AUTOANSWER=Yes|No|OK: every dialog gets that answer.
int AnswerFromEnvironment() {
  const char* word = std::getenv("SPINDLEX_QT_AUTOANSWER");
  if (!word) return mrNone;
  std::string w = word;
  return w == "Yes" ? mrYes : w == "No" ? mrNo : w == "OK" ? mrOk : mrNone;
}

QString Title(TMsgDlgType type) {
  switch (type) {
    case mtWarning: return "Warning";
    case mtError: return "Error";
    case mtInformation: return "Information";
    case mtConfirmation: return "Confirm";
    case mtCustom: break;
  }
  return QString::fromStdString(Application->Title());
}

QMessageBox::Icon Icon(TMsgDlgType type) {
  switch (type) {
    case mtWarning: return QMessageBox::Warning;
    case mtError: return QMessageBox::Critical;
    case mtInformation: return QMessageBox::Information;
    case mtConfirmation: return QMessageBox::Question;
    case mtCustom: break;
  }
  return QMessageBox::NoIcon;
}

class QtFrontEnd;
QtFrontEnd* active = nullptr;  // for the halt hook

class QtFrontEnd : public FrontEnd {
 public:
  QtFrontEnd(int& argc, char** argv, std::unique_ptr<ScriptPlayer> script) : script_(std::move(script)) {
    if (script_) {
      script_->SetNotes([](const std::string& note) { std::fprintf(stderr, "spindlex: %s\n", note.c_str()); });
    }
    if (!QApplication::instance()) app_ = std::make_unique<QApplication>(argc, argv);
    // Hiding every window (the main one during a run) must not end the loop.
    QApplication::setQuitOnLastWindowClosed(false);
    if (const char* dir = std::getenv("SPINDLEX_SCREENSHOTS"); dir && *dir) screenshots_ = dir;
    active = this;
    win32::SetHaltHook([] {
      if (active) active->SaveScreenshots(true);
    });
  }

  ~QtFrontEnd() override {
    if (active == this) {
      active = nullptr;
      win32::SetHaltHook(nullptr);
    }
    // Windows go before the application that they need.
    for (auto& [form, window] : windows_) delete window;
    windows_.clear();
  }

  void FormCreated(TForm& form) override {
    auto* window = new FormWindow(form);
    window->setObjectName(QString::fromStdString(form.Name()));
    windows_[&form] = window;
    std::vector<std::pair<int, QWidget*>> tabbing;
    for (const auto& component : form.Components()) {
      auto* control = dynamic_cast<TControl*>(component.get());
      if (!control) continue;
      QWidget* w = MakeControlWidget(*control, window);
      if (!w) continue;
      w->setObjectName(QString::fromStdString(control->Name()));
      widgets_[control] = w;
      if (auto* chart = dynamic_cast<ChartWidget*>(w)) charts_.push_back(chart);
      if (auto* button = dynamic_cast<TButton*>(control); button && button->Default()) defaults_[&form] = w;
      if (control->TabOrder() >= 0) tabbing.push_back({control->TabOrder(), w});
    }
    std::stable_sort(tabbing.begin(), tabbing.end(), [](auto& a, auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < tabbing.size(); ++i) QWidget::setTabOrder(tabbing[i - 1].second, tabbing[i].second);
    if (!tabbing.empty()) tabbing.front().second->setFocus();
    window->defaultButton = [this, &form]() -> QWidget* {
      auto it = defaults_.find(&form);
      return it == defaults_.end() ? nullptr : it->second;
    };
    if (form.Visible()) ShowWindow(window);
  }

  void Changed(TControl& control, TChange what) override {
    if (auto* form = dynamic_cast<TForm*>(&control)) {
      FormChanged(*form, what);
      return;
    }
    auto it = widgets_.find(&control);
    if (it != widgets_.end()) UpdateControlWidget(it->second, control, what);
    if (what == TChange::Visible || what == TChange::Caption) shotsStale_ = true;
  }

  void PointAdded(TChartSeries& series, int) override { ChartOf(series); }
  void SeriesCleared(TChartSeries& series) override { ChartOf(series); }

  void ProcessMessages() override {
    QApplication::processEvents();
    SaveScreenshots(false);
    if (script_) script_->Step();
  }

  void Run() override {
    // The loop runs until the model's application ends, which closing the
    // main form does (or a handler that terminates it).
    while (!Application->Terminated()) {
      if (script_) {
        QApplication::processEvents();
        SaveScreenshots(false);
        if (!script_->Step() && !Application->Terminated()) script_->Idle();
        continue;
      }
      QApplication::processEvents(QEventLoop::WaitForMoreEvents);
      SaveScreenshots(false);
    }
    SaveScreenshots(true);
  }

  int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons) override {
    QMessageBox box(Icon(type), Title(type), QString::fromStdString(text), QMessageBox::NoButton, DialogParent());
    std::map<int, QAbstractButton*> byResult;
    if (buttons & mbYes) byResult[mrYes] = box.addButton(QMessageBox::Yes);
    if (buttons & mbNo) byResult[mrNo] = box.addButton(QMessageBox::No);
    if (buttons & mbOK) byResult[mrOk] = box.addButton(QMessageBox::Ok);
    if (buttons & mbCancel) byResult[mrCancel] = box.addButton(QMessageBox::Cancel);
    if (byResult.empty()) byResult[mrOk] = box.addButton(QMessageBox::Ok);
    // Closing the dialog answers No where it asks, else Cancel or OK.
    int escape = byResult.count(mrNo) ? mrNo : byResult.count(mrCancel) ? mrCancel : byResult.begin()->first;
    box.setEscapeButton(byResult[escape]);
    if (buttons & mbYes) box.setDefaultButton(static_cast<QPushButton*>(byResult[mrYes]));
    return Exec(box, text, byResult, escape);
  }

  int MessageBox(const std::string& text, const std::string& caption, unsigned) override {
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(caption), QString::fromStdString(text),
                    QMessageBox::NoButton, DialogParent());
    std::map<int, QAbstractButton*> byResult{{mrOk, box.addButton(QMessageBox::Ok)}};
    box.setEscapeButton(byResult[mrOk]);
    return Exec(box, text, byResult, mrOk);
  }

  // Saves every shown window as <folder>/<form name>.png; between runs of
  // the loop only when something may look different.
  void SaveScreenshots(bool always) {
    if (screenshots_.isEmpty()) return;
    bool stale = shotsStale_ || std::any_of(charts_.begin(), charts_.end(), [](ChartWidget* c) { return c->Dirty(); });
    if (!always && !stale) return;
    shotsStale_ = false;
    for (auto& [form, window] : windows_) {
      if (window->isVisible()) SaveShot(window);
    }
  }

 private:
  void SaveShot(FormWindow* window) {
    QDir().mkpath(screenshots_);
    window->grab().save(screenshots_ + "/" + QString::fromStdString(window->Form().Name()) + ".png", "PNG");
  }

  void ChartOf(TChartSeries& series) {
    auto it = widgets_.find(series.ParentChart());
    if (it != widgets_.end()) static_cast<ChartWidget*>(it->second)->MarkDirty();
  }

  void FormChanged(TForm& form, TChange what) {
    FormWindow* window = windows_.at(&form);
    switch (what) {
      case TChange::Visible:
        if (form.Visible()) {
          ShowWindow(window);
        } else {
          if (!screenshots_.isEmpty() && window->isVisible()) SaveShot(window);  // its last look
          window->hide();
        }
        shotsStale_ = true;
        break;
      case TChange::Caption:
      case TChange::Bounds:
      case TChange::Font: {
        bool shown = window->isVisible();
        window->SyncFromModel();
        if (shown) window->show();
        shotsStale_ = true;
        break;
      }
      default:
        break;
    }
  }

  static void ShowWindow(FormWindow* window) {
    window->SyncFromModel();
    window->PlaceOnFirstShow();
    window->show();
    window->raise();
    window->activateWindow();
  }

  // Dialogs belong to the active form's window, else to any shown one.
  QWidget* DialogParent() const {
    if (QWidget* w = QApplication::activeWindow()) return w;
    for (auto& [form, window] : windows_) {
      if (window->isVisible()) return window;
    }
    return nullptr;
  }

  int Exec(QMessageBox& box, const std::string& text, const std::map<int, QAbstractButton*>& byResult, int escape) {
    const int scripted = script_ ? script_->TakeAnswer() : mrNone;
    if (script_ || AutoAnswer() || AnswerFromEnvironment() != mrNone) {
      // Answered once the dialog's own loop runs, as a user would; an answer
      // the dialog has no button for closes it instead.
      QTimer::singleShot(0, &box, [this, &box, &byResult, &text, escape, scripted] {
        int wanted = script_ ? (scripted != mrNone ? scripted : escape)
                     : AutoAnswer() ? AutoAnswer()(text) : AnswerFromEnvironment();
        auto it = byResult.find(wanted);
        (it != byResult.end() ? it->second : byResult.at(escape))->click();
      });
    }
    box.exec();
    for (auto& [result, button] : byResult) {
      if (box.clickedButton() == button) return result;
    }
    return escape;
  }

  std::unique_ptr<QApplication> app_;  // first: destroyed last
  std::unique_ptr<ScriptPlayer> script_;
  std::map<const TForm*, FormWindow*> windows_;
  std::map<const TControl*, QWidget*> widgets_;
  std::map<const TForm*, QWidget*> defaults_;
  std::vector<ChartWidget*> charts_;
  QString screenshots_;
  bool shotsStale_ = true;
};

}  // namespace

std::unique_ptr<FrontEnd> MakeQtFrontEnd(int& argc, char** argv, std::unique_ptr<ScriptPlayer> script) {
  return std::make_unique<QtFrontEnd>(argc, argv, std::move(script));
}

void SetDialogAutoAnswer(std::function<int(const std::string& text)> answer) { AutoAnswer() = std::move(answer); }
