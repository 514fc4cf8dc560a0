// What shows the forms to a user: the headless scripted front end or the Qt
// desktop. Exactly one is active per process.
#pragma once

#include <memory>
#include <string>

#include "vcl.h"

class TChart;
class TChartSeries;

class FrontEnd {
 public:
  virtual ~FrontEnd() = default;

  // A form was created; its components stand as its constructor built them.
  virtual void FormCreated(TForm& form) = 0;
  // A property of an announced form's control changed.
  virtual void Changed(TControl& control, TChange what) = 0;
  // A point was appended to (or inserted at index of) a series; a series was emptied.
  virtual void PointAdded(TChartSeries& series, int index) = 0;
  virtual void SeriesCleared(TChartSeries& series) = 0;

  // Handles every pending message once and returns.
  virtual void ProcessMessages() = 0;
  // The message loop; returns once Application is terminated.
  virtual void Run() = 0;
  virtual int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons) = 0;
  // The plain message box, also before any form exists.
  virtual int MessageBox(const std::string& text, const std::string& caption, unsigned style) = 0;
};

FrontEnd* ActiveFrontEnd();
// Makes the front end active; also answers MessageBoxA through it.
void SetFrontEnd(std::unique_ptr<FrontEnd> frontEnd);
// A fresh Application with no forms (tests).
void ResetApplication();
