// Our own painting of the chart model: title, walls, axes, grid, legend,
// line series and horizontal bars with their marks.
#pragma once

#include <QPainter>
#include <QPolygonF>
#include <QWidget>
#include <vector>

#include "tee.h"

// The value range an axis shows.
struct AxisRange {
  double Min = 0;
  double Max = 1;
};

// The range of an axis: fixed ends as set, automatic ends from the data
// (bars always include 0); never empty.
AxisRange ResolveAxis(const TChart& chart, bool bottom);

// The line through points (ascending X) in pixels, keeping per pixel column
// only the first, lowest, highest and last point: the drawn shape is that of
// all points, at a cost that follows the width, not the point count.
QPolygonF DecimatedLine(const std::vector<TChartPoint>& points, AxisRange x, AxisRange y, const QRectF& plot);

// Paints the whole chart into rect.
void PaintChart(QPainter& painter, const TChart& chart, const QRect& rect, const QPalette& palette);

// The widget of a chart: changes only mark it dirty; it paints when the
// event loop delivers the paint.
class ChartWidget : public QWidget {
 public:
  ChartWidget(const TChart& chart, QWidget* parent);
  void MarkDirty();
  bool Dirty() const { return dirty_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const TChart& chart_;
  bool dirty_ = false;
};
