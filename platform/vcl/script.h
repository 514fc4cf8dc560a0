// The user actions of a script, played at the program's message pumps: the
// headless front end's input, and the Qt front end's when one is given.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class ScriptPlayer {
 public:
  struct Action {
    enum Kind { kSelect, kCheck, kUncheck, kAnswer, kClick, kWaitPoints, kWaitCaption, kClose } kind;
    int line = 0;
    std::string name;  // component, or the answer word
    std::string text;  // the caption waited for
    int number = 0;    // list row or point count
  };

  // Reads a script; on error returns nullptr with one line in *error
  // ("NAME:LINE: problem"). Empty text: no actions.
  static std::unique_ptr<ScriptPlayer> FromText(const std::string& text, const std::string& name, std::string* error);
  // path nullptr or empty: no actions.
  static std::unique_ptr<ScriptPlayer> FromFile(const char* path, std::string* error);

  // Where the player's notes go ("script 3: Button2 cannot be reached").
  void SetNotes(std::function<void(const std::string&)> notes) { notes_ = std::move(notes); }

  // Runs the actions due at this message pump: met waits and answers pass
  // at once, a user action ends the pump. True when anything was done.
  bool Step();
  // At an idle point where nothing more happens: closes the main window
  // once the script has run out, or when a wait can never be met.
  void Idle();
  bool Finished() const { return next_ >= actions_.size(); }
  // The answer queued for the next dialog or box, or 0 (mrNone).
  int TakeAnswer();

 private:
  bool Met(const Action& a) const;
  void Perform(const Action& a);
  bool Reachable(const Action& a, class TControl* control);
  void Note(const std::string& text) {
    if (notes_) notes_(text);
  }

  std::vector<Action> actions_;
  std::size_t next_ = 0;
  std::deque<int> answers_;
  std::function<void(const std::string&)> notes_;
};
