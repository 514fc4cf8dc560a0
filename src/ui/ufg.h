// The results window: the speed lines, the access-time and burst bars, the
// summary labels and the Cancel/Ok button.
#pragma once

#include "tee.h"
#include "vcl.h"

class Tfg : public TForm {
 public:
  Tfg();

  TChart* Chart1;
  TFastLineSeries* Series1;
  TChart* Chart2;
  THorizBarSeries* Series2;
  TChart* Chart3;
  THorizBarSeries* Series3;
  TLabel* Label1;
  TLabel* Label2;
  TButton* Button1;
  TLabel* Label3;
  TLabel* Label4;
  TFastLineSeries* Series4;
  TLabel* Label5;

  void Button1Click(TObject* sender);

  bool CancelRequested = false;
};

extern Tfg* fg;
// The window that "&Ok" shows again; empty until the end of the first run.
extern TForm* ReturnWindow;
