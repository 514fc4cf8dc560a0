// The Qt 6 Widgets desktop front end.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "frontend.h"
#include "script.h"

// Creates the QApplication (unless one exists already: tests make their own)
// and the front end that shows the forms as windows. With a script, its
// actions are played at the message pumps, its queued answers close the
// dialogs, and the main window closes when it has run out, as headless.
std::unique_ptr<FrontEnd> MakeQtFrontEnd(int& argc, char** argv, std::unique_ptr<ScriptPlayer> script = nullptr);

// Test hook: every message dialog or box, once shown, asks this for its answer (mrYes,
// mrNo, mrOk) and that button is pressed; an answer it has no button for closes it. An
// empty function leaves the dialog to the user. The environment variable
// SPINDLEX_QT_AUTOANSWER=Yes|No|OK does the same for whole-program runs.
void SetDialogAutoAnswer(std::function<int(const std::string& text)> answer);
