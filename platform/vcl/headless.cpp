#include "headless.h"

#include <cstdio>
#include <map>

#include "script.h"
#include "tee.h"

namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string Number(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.10g", v);
  return buf;
}

std::string ButtonList(TMsgDlgButtons buttons) {
  std::string list;
  auto add = [&](TMsgDlgButtons b, const char* word) {
    if (buttons & b) list += (list.empty() ? "" : ",") + std::string(word);
  };
  add(mbYes, "Yes");
  add(mbNo, "No");
  add(mbOK, "OK");
  add(mbCancel, "Cancel");
  return "[" + list + "]";
}

class Headless : public FrontEnd {
 public:
  Headless(std::unique_ptr<ScriptPlayer> script, std::FILE* out) : script_(std::move(script)), out_(out) {
    script_->SetNotes([this](const std::string& note) { Line(note); });
  }

  void FormCreated(TForm& form) override {
    if (form.Visible()) Line("show " + form.Name());
  }

  void Changed(TControl& control, TChange what) override {
    std::string name = QualifiedName(control);
    switch (what) {
      case TChange::Caption:
        Line("caption " + name + " " + Quoted(control.Caption()));
        break;
      case TChange::Visible:
        if (dynamic_cast<TForm*>(&control)) {
          Line((control.Visible() ? "show " : "hide ") + control.Name());
        } else {
          Line("visible " + name + (control.Visible() ? " true" : " false"));
        }
        break;
      case TChange::Enabled:
        Line("enabled " + name + (control.Enabled() ? " true" : " false"));
        break;
      case TChange::Checked:
        Line("checked " + name + (static_cast<TCheckBox&>(control).Checked() ? " true" : " false"));
        break;
      case TChange::Items: {
        auto& box = static_cast<TComboBox&>(control);
        if (box.Items().empty()) {
          Line("clear " + control.Name());
        } else {
          Line("list " + control.Name() + " " + Quoted(box.Items().back()));
        }
        break;
      }
      case TChange::ItemIndex:
        Line("index " + name + " " + std::to_string(static_cast<TComboBox&>(control).ItemIndex()));
        break;
      case TChange::Chart:
        ChartLine(static_cast<TChart&>(control));
        break;
      case TChange::Bounds:
      case TChange::Font:
        break;
    }
  }

  void PointAdded(TChartSeries& series, int index) override {
    const TChartPoint& p = series.Points()[index];
    Line("point " + series.Name() + " " + Number(p.X) + " " + Number(p.Y) + " " + Quoted(p.Label));
  }

  void SeriesCleared(TChartSeries& series) override { Line("clear " + series.Name()); }

  void ProcessMessages() override { script_->Step(); }

  void Run() override {
    while (!Application->Terminated()) {
      if (!script_->Step() && !Application->Terminated()) script_->Idle();
    }
  }

  int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons) override {
    int result = (buttons & mbOK) ? mrOk : (buttons & mbNo) ? mrNo : mrCancel;
    if (int queued = script_->TakeAnswer()) {
      if ((queued == mrYes && (buttons & mbYes)) || (queued == mrNo && (buttons & mbNo)) ||
          (queued == mrOk && (buttons & mbOK))) {
        result = queued;
      }
    }
    const char* word = result == mrYes ? "Yes" : result == mrNo ? "No" : result == mrOk ? "OK" : "Cancel";
    Line(std::string("dialog ") + MsgDlgTypeName(type) + " " + Quoted(text) + " " + ButtonList(buttons) + " -> " +
         word);
    return result;
  }

  int MessageBox(const std::string& text, const std::string& caption, unsigned) override {
    script_->TakeAnswer();
    Line("box " + Quoted(caption) + " " + Quoted(text) + " [OK] -> OK");
    return 1;
  }

 private:
  void Line(const std::string& text) {
    std::fputs(text.c_str(), out_);
    std::fputc('\n', out_);
  }

  static std::string QualifiedName(TControl& control) {
    TForm* form = control.Owner();
    return form ? form->Name() + "." + control.Name() : control.Name();
  }

  void ChartLine(TChart& chart) {
    auto axis = [](const TChartAxis& a) {
      return (a.Automatic() ? std::string("auto") : Number(a.Minimum()) + ".." +
                                                        (a.AutomaticMaximum() ? "auto" : Number(a.Maximum()))) +
             " step " + Number(a.Increment());
    };
    std::string line = "chart " + chart.Name() + " left " + axis(chart.LeftAxis()) + " bottom " +
                       axis(chart.BottomAxis());
    std::string& last = lastChartLine_[chart.Name()];
    if (line != last) Line(line);
    last = line;
  }

  std::unique_ptr<ScriptPlayer> script_;
  std::FILE* out_;
  std::map<std::string, std::string> lastChartLine_;
};

}  // namespace

HeadlessLoadResult MakeHeadlessFrontEndFromText(const std::string& script, const std::string& nameForErrors,
                                                std::FILE* transcript) {
  std::string error;
  auto player = ScriptPlayer::FromText(script, nameForErrors, &error);
  if (!player) return {nullptr, error};
  return {std::make_unique<Headless>(std::move(player), transcript), {}};
}

HeadlessLoadResult MakeHeadlessFrontEnd(const char* scriptPath, std::FILE* transcript) {
  std::string error;
  auto player = ScriptPlayer::FromFile(scriptPath, &error);
  if (!player) return {nullptr, error};
  return {std::make_unique<Headless>(std::move(player), transcript), {}};
}
