// The chart library: charts with axes, fast line series and horizontal bar
// series. The model holds the data; the front end paints it.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "../vcl/vcl.h"

// The colour that means "the series' own colour" when a point is added.
constexpr TColor clTeeColor = 0x20000000;

// A refused chart setting.
class ETeeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TChart;

class TChartAxis {
 public:
  explicit TChartAxis(TChart* chart) : chart_(chart) {}

  bool Automatic() const { return automatic_; }
  void SetAutomatic(bool on);
  bool AutomaticMinimum() const { return automaticMinimum_; }
  void SetAutomaticMinimum(bool on);
  bool AutomaticMaximum() const { return automaticMaximum_; }
  void SetAutomaticMaximum(bool on);
  double Minimum() const { return minimum_; }
  void SetMinimum(double value);  // above the maximum: ETeeError
  double Maximum() const { return maximum_; }
  void SetMaximum(double value);  // below the minimum: ETeeError
  double Increment() const { return increment_; }
  void SetIncrement(double value);  // negative: ETeeError
  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& title);
  bool LabelsVisible() const { return labelsVisible_; }
  void SetLabelsVisible(bool on);
  int LabelSeparation() const { return labelSeparation_; }
  void SetLabelSeparation(int percent) { labelSeparation_ = percent; }
  bool LabelsOnAxis() const { return labelsOnAxis_; }
  void SetLabelsOnAxis(bool on) { labelsOnAxis_ = on; }

 private:
  void Changed();
  TChart* chart_;
  bool automatic_ = true;
  bool automaticMinimum_ = true;
  bool automaticMaximum_ = true;
  double minimum_ = 0;
  double maximum_ = 0;
  double increment_ = 0;
  std::string title_;
  bool labelsVisible_ = true;
  int labelSeparation_ = 10;
  bool labelsOnAxis_ = true;
};

struct TChartPoint {
  double X;
  double Y;
  std::string Label;
  TColor Color;
};

class TChartSeries : public TComponent {
 public:
  TChartSeries(TForm* owner, const std::string& name, TChart* chart);

  TChart* ParentChart() const { return chart_; }
  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& title) { title_ = title; }
  TColor SeriesColor() const { return color_; }
  void SetSeriesColor(TColor color) { color_ = color; }
  bool MarksVisible() const { return marksVisible_; }
  void SetMarksVisible(bool on) { marksVisible_ = on; }

  // Adds a point, kept in ascending X; returns its index. clTeeColor: the
  // series' own colour.
  int AddXY(double x, double y, const std::string& label, TColor color);
  void Clear();
  int Count() const { return static_cast<int>(points_.size()); }
  // The Y value of point i (from 0), in ascending X order.
  double YValue(int index) const { return points_.at(index).Y; }
  const std::vector<TChartPoint>& Points() const { return points_; }
  // The chart is redrawn at the next paint.
  void Repaint();

 private:
  TChart* chart_;
  std::string title_;
  TColor color_ = clRed;
  bool marksVisible_ = false;
  std::vector<TChartPoint> points_;
};

class TFastLineSeries : public TChartSeries {
 public:
  using TChartSeries::TChartSeries;
};

class THorizBarSeries : public TChartSeries {
 public:
  using TChartSeries::TChartSeries;
  // A number format such as "#,##0.#ms" for the bar's mark.
  const std::string& ValueFormat() const { return valueFormat_; }
  void SetValueFormat(const std::string& format) { valueFormat_ = format; }
  int ArrowLength() const { return arrowLength_; }
  void SetArrowLength(int length) { arrowLength_ = length; }
  // The text of point i's mark.
  std::string MarkText(int index) const;

 private:
  std::string valueFormat_ = "#,##0.###";
  int arrowLength_ = 8;
};

struct TChartMargins {
  int Left = 3, Top = 4, Right = 3, Bottom = 4;  // percent of the chart
};

class TChart : public TControl {
 public:
  TChart(TForm* owner, const std::string& name);

  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& title) { title_ = title; }
  bool LegendVisible() const { return legendVisible_; }
  void SetLegendVisible(bool on) { legendVisible_ = on; }
  int LegendTopPos() const { return legendTopPos_; }
  void SetLegendTopPos(int percent) { legendTopPos_ = percent; }
  bool View3D() const { return view3D_; }
  void SetView3D(bool on) { view3D_ = on; }
  int Chart3DPercent() const { return chart3DPercent_; }
  void SetChart3DPercent(int percent) { chart3DPercent_ = percent; }
  const TChartMargins& Margins() const { return margins_; }
  void SetMargins(const TChartMargins& margins) { margins_ = margins; }
  TColor BackWallColor() const { return backWallColor_; }
  void SetBackWallColor(TColor color) { backWallColor_ = color; }
  bool BackWallTransparent() const { return backWallTransparent_; }
  void SetBackWallTransparent(bool on) { backWallTransparent_ = on; }

  TChartAxis& LeftAxis() { return left_; }
  TChartAxis& BottomAxis() { return bottom_; }
  const TChartAxis& LeftAxis() const { return left_; }
  const TChartAxis& BottomAxis() const { return bottom_; }

  const std::vector<TChartSeries*>& Series() const { return series_; }
  void AddSeries(TChartSeries* series) { series_.push_back(series); }
  // Redrawn at the next paint.
  void Repaint() { NotifyChanged(); }
  // Tells the front end that a setting changed (axes call it).
  void NotifyChanged() { Changed(TChange::Chart); }

 private:
  std::string title_;
  bool legendVisible_ = true;
  int legendTopPos_ = 10;
  bool view3D_ = true;
  int chart3DPercent_ = 15;
  TChartMargins margins_;
  TColor backWallColor_ = clWhite;
  bool backWallTransparent_ = false;
  TChartAxis left_{this};
  TChartAxis bottom_{this};
  std::vector<TChartSeries*> series_;
};

// A value in a number format: "#,##0.#" groups thousands with "," and shows
// at most as many decimals as there are "#" after the ".", dropping trailing
// zeros; text after the format's digits (the unit) is copied as it stands.
std::string FormatFloat(const std::string& format, double value);
