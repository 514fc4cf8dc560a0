#include "headless.h"

#include <cstdlib>
#include <deque>
#include <map>
#include <fstream>
#include <sstream>
#include <vector>

#include "tee.h"

namespace {

struct Action {
  enum Kind { kSelect, kCheck, kUncheck, kAnswer, kClick, kWaitPoints, kWaitCaption, kClose } kind;
  int line = 0;
  std::string name;  // component, or the answer word
  std::string text;  // the caption waited for
  int number = 0;    // list row or point count
};

// Splits "wait Button1 "&Ok"" into words; a quoted word keeps its spaces.
bool SplitWords(const std::string& line, std::vector<std::string>* words, std::vector<bool>* quoted) {
  std::size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r') {
      ++i;
    } else if (line[i] == '"') {
      std::size_t close = line.find('"', i + 1);
      if (close == std::string::npos) return false;
      words->push_back(line.substr(i + 1, close - i - 1));
      quoted->push_back(true);
      i = close + 1;
    } else {
      std::size_t end = line.find_first_of(" \t\r\"", i);
      if (end == std::string::npos) end = line.size();
      words->push_back(line.substr(i, end - i));
      quoted->push_back(false);
      i = end;
    }
  }
  return true;
}

bool ParseCount(const std::string& word, int* value) {
  if (word.empty() || word.size() > 9 || word.find_first_not_of("0123456789") != std::string::npos) return false;
  *value = std::atoi(word.c_str());
  return true;
}

std::string ParseScript(const std::string& script, std::vector<Action>* actions) {
  std::istringstream in(script);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::size_t hash = line.find('#');
    std::size_t quote = line.find('"');
    if (hash != std::string::npos && (quote == std::string::npos || hash < quote)) line.resize(hash);
    std::vector<std::string> w;
    std::vector<bool> quoted;
    if (!SplitWords(line, &w, &quoted)) return std::to_string(number) + ": unterminated quote";
    if (w.empty()) continue;
    Action a;
    a.line = number;
    const std::string& verb = w[0];
    auto bad = [&](const std::string& why) { return std::to_string(number) + ": " + why; };
    if (verb == "select") {
      if (w.size() != 2 || !ParseCount(w[1], &a.number) || a.number < 1) return bad("select takes a row number from 1");
      a.kind = Action::kSelect;
    } else if (verb == "check" || verb == "uncheck" || verb == "click") {
      if (w.size() != 2 || quoted[1]) return bad(verb + " takes one component name");
      a.kind = verb == "check" ? Action::kCheck : verb == "uncheck" ? Action::kUncheck : Action::kClick;
      a.name = w[1];
    } else if (verb == "answer") {
      if (w.size() != 2 || (w[1] != "Yes" && w[1] != "No" && w[1] != "OK")) return bad("answer takes Yes, No or OK");
      a.kind = Action::kAnswer;
      a.name = w[1];
    } else if (verb == "wait") {
      if (w.size() != 3 || quoted[1]) return bad("wait takes a name and a point count or a quoted caption");
      a.name = w[1];
      if (quoted[2]) {
        a.kind = Action::kWaitCaption;
        a.text = w[2];
      } else if (ParseCount(w[2], &a.number)) {
        a.kind = Action::kWaitPoints;
      } else {
        return bad("wait takes a point count or a quoted caption");
      }
    } else if (verb == "close") {
      if (w.size() != 1) return bad("close takes nothing");
      a.kind = Action::kClose;
    } else {
      return bad("unknown action \"" + verb + "\"");
    }
    actions->push_back(a);
  }
  return {};
}

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
  Headless(std::vector<Action> actions, std::FILE* out) : actions_(std::move(actions)), out_(out) {}

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

  void ProcessMessages() override { Step(); }

  void Run() override {
    while (!Application->Terminated()) {
      bool progressed = Step();
      if (Application->Terminated() || progressed) continue;
      if (next_ < actions_.size()) {
        Line("script " + std::to_string(actions_[next_].line) + ": cannot go on, the program is idle");
        next_ = actions_.size();
      }
      if (TForm* main = Application->MainForm()) main->Close();
      Application->Terminate();
    }
  }

  int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons) override {
    int result = (buttons & mbOK) ? mrOk : (buttons & mbNo) ? mrNo : mrCancel;
    if (!answers_.empty()) {
      int queued = answers_.front();
      answers_.pop_front();
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
    if (!answers_.empty()) answers_.pop_front();
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

  // Finds "NAME" or "FORM.NAME" among the forms, the first created first.
  static TComponent* Find(const std::string& name) {
    std::size_t dot = name.find('.');
    for (const auto& form : Application->Forms()) {
      if (dot != std::string::npos) {
        if (form->Name() == name.substr(0, dot)) return form->FindComponent(name.substr(dot + 1));
      } else if (TComponent* c = form->FindComponent(name)) {
        return c;
      }
    }
    return nullptr;
  }

  // A user can only reach a control that is enabled and on a shown window.
  bool Reachable(const Action& a, TControl* control) {
    if (!control) {
      Line("script " + std::to_string(a.line) + ": no component " + a.name);
      return false;
    }
    if (!control->Enabled() || !control->Visible() || (control->Owner() && !control->Owner()->Visible())) {
      Line("script " + std::to_string(a.line) + ": " + a.name + " cannot be reached");
      return false;
    }
    return true;
  }

  bool Met(const Action& a) {
    TComponent* c = Find(a.name);
    if (a.kind == Action::kWaitPoints) {
      auto* series = dynamic_cast<TChartSeries*>(c);
      return series && series->Count() >= a.number;
    }
    auto* control = dynamic_cast<TControl*>(c);
    return control && control->Caption() == a.text;
  }

  // Runs the actions due at this message pump. Waits that are met and
  // answers pass at once; a user action ends the pump. True when anything
  // was done.
  bool Step() {
    bool progressed = false;
    while (next_ < actions_.size()) {
      const Action a = actions_[next_];
      if (a.kind == Action::kAnswer) {
        answers_.push_back(a.name == "Yes" ? mrYes : a.name == "No" ? mrNo : mrOk);
        ++next_;
        progressed = true;
        continue;
      }
      if (a.kind == Action::kWaitPoints || a.kind == Action::kWaitCaption) {
        if (!Met(a)) return progressed;
        ++next_;
        progressed = true;
        continue;
      }
      ++next_;
      Perform(a);
      return true;
    }
    return progressed;
  }

  void Perform(const Action& a) {
    if (a.kind == Action::kClose) {
      if (TForm* main = Application->MainForm()) main->Close();
      return;
    }
    if (a.kind == Action::kSelect) {
      auto* list = dynamic_cast<TComboBox*>(Find("cbdrive"));
      if (!Reachable(a, list)) return;
      if (a.number > static_cast<int>(list->Items().size())) {
        Line("script " + std::to_string(a.line) + ": no row " + std::to_string(a.number));
        return;
      }
      list->Pick(a.number - 1);
      return;
    }
    TComponent* c = Find(a.name);
    if (a.kind == Action::kClick) {
      auto* button = dynamic_cast<TButton*>(c);
      if (Reachable(a, button)) button->Click();
      return;
    }
    auto* box = dynamic_cast<TCheckBox*>(c);
    if (Reachable(a, box)) box->SetChecked(a.kind == Action::kCheck);
  }

  std::vector<Action> actions_;
  std::size_t next_ = 0;
  std::deque<int> answers_;
  std::FILE* out_;
  std::map<std::string, std::string> lastChartLine_;
};

}  // namespace

HeadlessLoadResult MakeHeadlessFrontEndFromText(const std::string& script, const std::string& nameForErrors,
                                                std::FILE* transcript) {
  std::vector<Action> actions;
  std::string error = ParseScript(script, &actions);
  if (!error.empty()) return {nullptr, nameForErrors + ":" + error};
  return {std::make_unique<Headless>(std::move(actions), transcript), {}};
}

HeadlessLoadResult MakeHeadlessFrontEnd(const char* scriptPath, std::FILE* transcript) {
  if (!scriptPath) return MakeHeadlessFrontEndFromText("", "", transcript);
  std::ifstream in(scriptPath, std::ios::binary);
  if (!in) return {nullptr, std::string(scriptPath) + ": cannot be read"};
  std::stringstream text;
  text << in.rdbuf();
  return MakeHeadlessFrontEndFromText(text.str(), scriptPath, transcript);
}
