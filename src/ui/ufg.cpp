#include "ufg.h"

Tfg* fg = nullptr;
TForm* ReturnWindow = nullptr;

namespace {

TChart* BarChart(TChart* chart, int top, const std::string& title, double maximum) {
  chart->SetBounds(1, top, 630, 53);
  chart->SetTitle(title);
  chart->SetLegendVisible(false);
  chart->SetView3D(false);
  chart->SetChart3DPercent(1);
  chart->SetMargins({0, 0, 2, 0});
  chart->SetBackWallColor(clWhite);
  chart->SetBackWallTransparent(true);
  TChartAxis& bottom = chart->BottomAxis();
  bottom.SetAutomatic(false);
  bottom.SetMaximum(maximum);
  bottom.SetMinimum(0);
  chart->LeftAxis().SetLabelsVisible(false);
  return chart;
}

THorizBarSeries* Bar(THorizBarSeries* series, const std::string& format) {
  series->SetSeriesColor(clRed);
  series->SetMarksVisible(true);
  series->SetArrowLength(20);
  series->SetValueFormat(format);
  return series;
}

TLabel* SummaryLabel(TLabel* label, int left, int top, int width, const std::string& caption) {
  label->SetBounds(left, top, width, 16);
  label->SetCaption(caption);
  TFont font;
  font.Height = 13;
  font.Color = clRed;
  label->SetFont(font);
  label->SetVisible(false);
  return label;
}

}  // namespace

Tfg::Tfg() : TForm("fg") {
  SetCaption("Spindlex version 2.61");
  SetClientSize(632, 347);
  SetBorderStyle(bsSingle);
  SetBorderIcons(0);
  SetPosition(poDefault);
  TFont font;
  font.Height = 11;
  SetFont(font);

  Chart1 = Add<TChart>("Chart1");
  Chart1->SetBounds(1, 1, 631, 175);
  Chart1->SetTitle("Sequential Speed (kilobytes per second, higher is better)");
  Chart1->BottomAxis().SetTitle("Drive Position");
  Chart1->BottomAxis().SetIncrement(32);
  TChartAxis& left = Chart1->LeftAxis();
  left.SetAutomatic(false);
  left.SetAutomaticMinimum(false);
  left.SetAutomaticMaximum(true);
  left.SetMinimum(0);
  left.SetIncrement(500);
  left.SetLabelSeparation(2);
  Chart1->SetLegendVisible(true);
  Chart1->SetLegendTopPos(8);
  Chart1->SetView3D(true);
  Chart1->SetChart3DPercent(7);
  Chart1->SetMargins({1, 1, 1, 1});
  Chart1->SetBackWallColor(clWhite);
  Chart1->SetBackWallTransparent(true);

  Series1 = Add<TFastLineSeries>("Series1", Chart1);
  Series1->SetTitle("Read");
  Series1->SetSeriesColor(clRed);

  Chart2 = BarChart(Add<TChart>("Chart2"), 178, "Random Access Time (milliseconds, lower is better)", 25);
  Chart2->LeftAxis().SetIncrement(5);
  Chart2->LeftAxis().SetLabelsOnAxis(false);
  Series2 = Bar(Add<THorizBarSeries>("Series2", Chart2), "#,##0.#ms");

  Chart3 = BarChart(Add<TChart>("Chart3"), 233, "Read Burst Speed (megabytes per second, higher is better)", 33);
  Series3 = Bar(Add<THorizBarSeries>("Series3", Chart3), "#,##0.#mbps");

  Label1 = Add<TLabel>("Label1");
  Label1->SetBounds(451, 332, 180, 13);
  Label1->SetCaption("1 kilobyte = 1,024 bytes");
  Label1->SetFont(font);
  Label2 = Add<TLabel>("Label2");
  Label2->SetBounds(3, 334, 200, 13);
  Label2->SetCaption("Spindlex disk benchmark");
  Label2->SetFont(font);

  Button1 = Add<TButton>("Button1");
  Button1->SetBounds(538, 296, 75, 25);
  Button1->SetCaption("Cancel");
  Button1->SetFont(font);
  Button1->OnClick = [this](TObject* s) { Button1Click(s); };

  Label3 = SummaryLabel(Add<TLabel>("Label3"), 10, 290, 128, "Average read speed:");
  Label4 = SummaryLabel(Add<TLabel>("Label4"), 10, 309, 127, "Average write speed:");

  Series4 = Add<TFastLineSeries>("Series4", Chart1);
  Series4->SetTitle("Write");
  Series4->SetSeriesColor(clGreen);

  Label5 = SummaryLabel(Add<TLabel>("Label5"), 206, 328, 88, "CPU utilization:");
}

void Tfg::Button1Click(TObject*) {
  if (Button1->Caption() == "Cancel") {
    CancelRequested = true;
    return;
  }
  if (ReturnWindow) ReturnWindow->SetVisible(true);
  Hide();
}
