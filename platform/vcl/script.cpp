#include "script.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tee.h"
#include "vcl.h"

namespace {

using Action = ScriptPlayer::Action;

// Splits a line into words; a quoted word keeps its spaces.
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

// Finds "NAME" or "FORM.NAME" among the forms, the first created first.
TComponent* Find(const std::string& name) {
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

}  // namespace

std::unique_ptr<ScriptPlayer> ScriptPlayer::FromText(const std::string& text, const std::string& name,
                                                     std::string* error) {
  auto player = std::make_unique<ScriptPlayer>();
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::size_t hash = line.find('#');
    std::size_t quote = line.find('"');
    if (hash != std::string::npos && (quote == std::string::npos || hash < quote)) line.resize(hash);
    std::vector<std::string> w;
    std::vector<bool> quoted;
    auto bad = [&](const std::string& why) {
      *error = name + ":" + std::to_string(number) + ": " + why;
      return nullptr;
    };
    if (!SplitWords(line, &w, &quoted)) return bad("unterminated quote");
    if (w.empty()) continue;
    Action a{};
    a.line = number;
    const std::string& verb = w[0];
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
    player->actions_.push_back(a);
  }
  return player;
}

std::unique_ptr<ScriptPlayer> ScriptPlayer::FromFile(const char* path, std::string* error) {
  if (!path || !*path) return FromText("", "", error);
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = std::string(path) + ": cannot be read";
    return nullptr;
  }
  std::stringstream text;
  text << in.rdbuf();
  return FromText(text.str(), path, error);
}

int ScriptPlayer::TakeAnswer() {
  if (answers_.empty()) return 0;
  int answer = answers_.front();
  answers_.pop_front();
  return answer;
}

bool ScriptPlayer::Step() {
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

void ScriptPlayer::Idle() {
  if (next_ < actions_.size()) {
    Note("script " + std::to_string(actions_[next_].line) + ": cannot go on, the program is idle");
    next_ = actions_.size();
  }
  if (TForm* main = Application->MainForm()) main->Close();
  Application->Terminate();
}

bool ScriptPlayer::Met(const Action& a) const {
  TComponent* c = Find(a.name);
  if (a.kind == Action::kWaitPoints) {
    auto* series = dynamic_cast<TChartSeries*>(c);
    return series && series->Count() >= a.number;
  }
  auto* control = dynamic_cast<TControl*>(c);
  return control && control->Caption() == a.text;
}

// A user can only reach a control that is enabled and on a shown window.
bool ScriptPlayer::Reachable(const Action& a, TControl* control) {
  if (!control) {
    Note("script " + std::to_string(a.line) + ": no component " + a.name);
    return false;
  }
  if (!control->Enabled() || !control->Visible() || (control->Owner() && !control->Owner()->Visible())) {
    Note("script " + std::to_string(a.line) + ": " + a.name + " cannot be reached");
    return false;
  }
  return true;
}

void ScriptPlayer::Perform(const Action& a) {
  if (a.kind == Action::kClose) {
    if (TForm* main = Application->MainForm()) main->Close();
    return;
  }
  if (a.kind == Action::kSelect) {
    auto* list = dynamic_cast<TComboBox*>(Find("cbdrive"));
    if (!Reachable(a, list)) return;
    if (a.number > static_cast<int>(list->Items().size())) {
      Note("script " + std::to_string(a.line) + ": no row " + std::to_string(a.number));
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
