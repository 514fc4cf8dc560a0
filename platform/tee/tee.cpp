#include "tee.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "frontend.h"
#include "machine.h"

void TChartAxis::Changed() { chart_->NotifyChanged(); }

void TChartAxis::SetAutomatic(bool on) {
  automatic_ = on;
  // Leaving automatic fixes both ends, as the chart library does.
  if (!on) automaticMinimum_ = automaticMaximum_ = false;
  Changed();
}

void TChartAxis::SetAutomaticMinimum(bool on) {
  automaticMinimum_ = on;
  Changed();
}

void TChartAxis::SetAutomaticMaximum(bool on) {
  automaticMaximum_ = on;
  Changed();
}

void TChartAxis::SetMinimum(double value) {
  if (value > maximum_) throw ETeeError("Axis minimum value must be <= maximum.");
  minimum_ = value;
  Changed();
}

void TChartAxis::SetMaximum(double value) {
  if (value < minimum_) throw ETeeError("Axis maximum value must be >= minimum.");
  maximum_ = value;
  Changed();
}

void TChartAxis::SetIncrement(double value) {
  if (value < 0) throw ETeeError("Axis increment must be >= 0.");
  increment_ = value;
  Changed();
}

void TChartAxis::SetTitle(const std::string& title) {
  title_ = title;
  Changed();
}

void TChartAxis::SetLabelsVisible(bool on) {
  labelsVisible_ = on;
  Changed();
}

TChartSeries::TChartSeries(TForm* owner, const std::string& name, TChart* chart)
    : TComponent(owner, name), chart_(chart) {
  chart->AddSeries(this);
}

int TChartSeries::AddXY(double x, double y, const std::string& label, TColor color) {
  win32::TraceCall("AddXY");
  if (color == clTeeColor) color = color_;
  // Points arrive in ascending X; an out-of-order one is inserted in place.
  auto at = points_.end();
  if (!points_.empty() && x < points_.back().X) {
    at = std::upper_bound(points_.begin(), points_.end(), x,
                          [](double v, const TChartPoint& p) { return v < p.X; });
  }
  int index = static_cast<int>(at - points_.begin());
  points_.insert(at, TChartPoint{x, y, label, color});
  TForm* form = Owner();
  if (FrontEnd* f = ActiveFrontEnd(); f && form && form->Announced()) f->PointAdded(*this, index);
  return index;
}

void TChartSeries::Clear() {
  points_.clear();
  TForm* form = Owner();
  if (FrontEnd* f = ActiveFrontEnd(); f && form && form->Announced()) f->SeriesCleared(*this);
}

void TChartSeries::Repaint() { chart_->Repaint(); }

std::string THorizBarSeries::MarkText(int index) const { return FormatFloat(valueFormat_, Points().at(index).X); }

TChart::TChart(TForm* owner, const std::string& name) : TControl(owner, name) {}

std::string FormatFloat(const std::string& format, double value) {
  // Split the format into its number part and the text that follows it.
  std::size_t end = format.find_first_not_of("#0,.");
  std::string number = format.substr(0, end);
  std::string suffix = end == std::string::npos ? "" : format.substr(end);
  bool grouped = number.find(',') != std::string::npos;
  std::size_t point = number.find('.');
  int optional = 0, required = 0;
  if (point != std::string::npos) {
    for (char c : number.substr(point + 1)) {
      if (c == '0') ++required;
      if (c == '#') ++optional;
    }
  }
  int decimals = required + optional;
  char digits[64];
  std::snprintf(digits, sizeof digits, "%.*f", decimals, std::fabs(value));
  std::string text = digits;
  std::string whole = text.substr(0, text.find('.'));
  std::string fraction = decimals > 0 ? text.substr(text.find('.') + 1) : "";
  while (static_cast<int>(fraction.size()) > required && !fraction.empty() && fraction.back() == '0') {
    fraction.pop_back();
  }
  if (grouped) {
    for (int i = static_cast<int>(whole.size()) - 3; i > 0; i -= 3) whole.insert(i, ",");
  }
  bool negative = std::signbit(value) && (whole.find_first_not_of("0,") != std::string::npos ||
                                          fraction.find_first_not_of('0') != std::string::npos);
  return (negative ? "-" : "") + whole + (fraction.empty() ? "" : "." + fraction) + suffix;
}
