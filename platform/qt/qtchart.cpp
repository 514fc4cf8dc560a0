#include "qtchart.h"

#include <QFontMetrics>
#include <algorithm>
#include <cmath>
#include <string>

#include "qtcontrols.h"

namespace {

bool IsBarChart(const TChart& chart) {
  for (const TChartSeries* s : chart.Series()) {
    if (dynamic_cast<const THorizBarSeries*>(s)) return true;
  }
  return false;
}

// Keeps pixel coordinates of far-off values within what QPainter handles well.
double ClampPixel(double v) { return std::clamp(v, -1e6, 1e6); }

double MapX(double value, AxisRange r, const QRectF& plot) {
  return ClampPixel(plot.left() + (value - r.Min) / (r.Max - r.Min) * plot.width());
}

double MapY(double value, AxisRange r, const QRectF& plot) {
  return ClampPixel(plot.bottom() - (value - r.Min) / (r.Max - r.Min) * plot.height());
}

QString Text(const std::string& s) { return QString::fromStdString(s); }

QString ValueText(double v) { return Text(FormatFloat("#,##0.###", v)); }

// The values that get a label: every step from the first multiple of step in
// the range, where step is the increment grown by whole multiples until labels
// of extent pixels (plus the separation percent) no longer overlap.
std::vector<double> LabelValues(const TChartAxis& axis, AxisRange r, double pixels, double extent) {
  double span = r.Max - r.Min;
  double need = extent * (1.0 + axis.LabelSeparation() / 100.0) + 2;
  double step = axis.Increment();
  if (step <= 0) {
    // No increment: the smallest 1, 2, 5 step whose labels fit.
    double raw = span * need / std::max(1.0, pixels);
    double decade = std::pow(10.0, std::floor(std::log10(raw)));
    step = decade * 10;
    for (double m : {1.0, 2.0, 5.0}) {
      if (decade * m >= raw) {
        step = decade * m;
        break;
      }
    }
  }
  double perStep = step / span * pixels;
  if (perStep < need) step *= std::ceil(need / std::max(perStep, 1e-9));
  std::vector<double> values;
  double first = std::ceil(r.Min / step - 1e-9) * step;
  for (int i = 0; i < 10000; ++i) {
    double v = first + i * step;
    if (v > r.Max + step * 1e-9) break;
    values.push_back(std::fabs(v) < step * 1e-9 ? 0.0 : v);
  }
  return values;
}

// The series whose point labels the bottom axis shows: the first with any.
const TChartSeries* LabelSeries(const TChart& chart) {
  for (const TChartSeries* s : chart.Series()) {
    for (const TChartPoint& p : s->Points()) {
      if (!p.Label.empty()) return s;
    }
  }
  return nullptr;
}

struct BottomLabel {
  double x;
  QString text;
};

// Point labels at their X, thinned out so that none overlaps the one before.
std::vector<BottomLabel> ThinnedPointLabels(const TChartSeries& s, AxisRange r, const QRectF& front,
                                            const QFontMetrics& fm) {
  std::vector<BottomLabel> labels;
  const int gap = fm.horizontalAdvance(QLatin1Char(' ')) * 2;
  double lastRight = -1e9;  // the right edge of the last label placed
  double skipBelow = -1e9;  // centres below this cannot fit: skipped unmeasured
  for (const TChartPoint& p : s.Points()) {
    if (p.Label.empty() || p.X < r.Min || p.X > r.Max) continue;
    double x = MapX(p.X, r, front);
    if (x < skipBelow) continue;  // most points of a dense series end here
    QString text = Text(p.Label);
    double half = fm.horizontalAdvance(text) / 2.0;
    // Labels of one series are alike in width, so the next that fits lies half a width on.
    if (x - half >= lastRight + gap) {
      labels.push_back({x, text});
      lastRight = x + half;
    }
    skipBelow = lastRight + gap + half;
  }
  return labels;
}

struct Layout {
  QRect inner;   // inside the margins, below the title, left of the legend
  QRectF front;  // the plot's front face, where the axes are
  QRectF back;   // the back wall, where the data is drawn
  int depth = 0;
};

void PaintLegend(QPainter& p, const TChart& chart, const QRect& rect, const QFontMetrics& fm, QRect* inner,
                 const QPalette& palette) {
  std::vector<const TChartSeries*> entries(chart.Series().begin(), chart.Series().end());
  if (!chart.LegendVisible() || entries.empty()) return;
  int textWidth = 0;
  for (const TChartSeries* s : entries) textWidth = std::max(textWidth, fm.horizontalAdvance(Text(s->Title())));
  const int symbol = 14, pad = 5;
  QRect box(0, 0, pad + symbol + 4 + textWidth + pad, static_cast<int>(entries.size()) * fm.height() + 4);
  box.moveTopRight(QPoint(inner->right(), rect.top() + rect.height() * chart.LegendTopPos() / 100));
  inner->setRight(box.left() - 6);
  p.fillRect(box.translated(1, 1), Qt::black);  // shadow 1
  p.fillRect(box, Qt::white);
  p.setPen(Qt::black);
  p.drawRect(box.adjusted(0, 0, -1, -1));
  int y = box.top() + 2;
  for (const TChartSeries* s : entries) {
    int mid = y + fm.height() / 2;
    p.setPen(QPen(ToQColor(s->SeriesColor(), palette), 2));
    p.drawLine(box.left() + pad, mid, box.left() + pad + symbol, mid);
    p.setPen(ToQColor(chart.Font().Color, palette));
    p.drawText(QRect(box.left() + pad + symbol + 4, y, textWidth + 1, fm.height()), Qt::AlignLeft | Qt::AlignVCenter,
               Text(s->Title()));
    y += fm.height();
  }
}

void PaintWalls(QPainter& p, const TChart& chart, const Layout& l, const QPalette& palette) {
  const QRectF& f = l.front;
  const QRectF& b = l.back;
  p.setPen(QPen(palette.color(QPalette::Dark), 1));
  if (l.depth > 0) {
    // The left wall and the floor join the front face to the back wall.
    QBrush wall = chart.BackWallTransparent() ? Qt::NoBrush : palette.color(QPalette::Midlight);
    p.setBrush(wall);
    p.drawPolygon(QPolygonF({f.topLeft(), b.topLeft(), b.bottomLeft(), f.bottomLeft()}));
    p.drawPolygon(QPolygonF({f.bottomLeft(), b.bottomLeft(), b.bottomRight(), f.bottomRight()}));
  }
  TColor wallColor = chart.BackWallColor();
  p.setBrush(wallColor == clNone ? QBrush(Qt::NoBrush) : QBrush(ToQColor(wallColor, palette)));
  p.setPen(QPen(Qt::black, 1));
  p.drawRect(b);
  p.setBrush(Qt::NoBrush);
}

void PaintLine(QPainter& p, const TChartSeries& s, AxisRange x, AxisRange y, const Layout& l,
               const QPalette& palette) {
  if (s.Points().empty()) return;
  p.setPen(QPen(ToQColor(s.SeriesColor(), palette), 1));
  QPolygonF line = DecimatedLine(s.Points(), x, y, l.back);
  if (line.size() == 1) {
    p.drawPoint(line.front());
  } else {
    p.drawPolyline(line);
  }
}

void PaintBars(QPainter& p, const THorizBarSeries& s, AxisRange x, const Layout& l, const QRect& chartRect,
               const QFontMetrics& fm, const QPalette& palette) {
  int n = s.Count();
  if (n == 0) return;
  const QRectF& plot = l.back;
  double slot = plot.height() / n;
  double base = MapX(std::clamp(0.0, x.Min, x.Max), x, plot);
  for (int i = 0; i < n; ++i) {
    const TChartPoint& pt = s.Points()[i];
    double end = MapX(std::clamp(pt.X, x.Min, x.Max), x, plot);
    // Point 0 at the bottom, as the left axis counts upwards; bars fill 70% of their slot.
    double mid = plot.bottom() - (i + 0.5) * slot;
    QRectF bar(QPointF(std::min(base, end), mid - slot * 0.35), QPointF(std::max(base, end), mid + slot * 0.35));
    QColor colour = ToQColor(pt.Color, palette);
    p.setPen(QPen(colour.darker(150), 1));
    p.setBrush(colour);
    p.drawRect(bar);
    p.setBrush(Qt::NoBrush);
    if (!s.MarksVisible()) continue;
    // The mark: the value in the series' format, at the arrow's length beside the bar.
    QString text = Text(s.MarkText(i));
    QRectF box(0, 0, fm.horizontalAdvance(text) + 6, fm.height() + 2);
    double arrowEnd = bar.right() + s.ArrowLength();
    box.moveCenter(QPointF(arrowEnd + box.width() / 2, mid));
    if (box.right() > chartRect.right()) box.moveRight(chartRect.right());
    if (box.left() > bar.right()) {
      p.setPen(QPen(palette.color(QPalette::Dark), 1));
      p.drawLine(QPointF(bar.right(), mid), QPointF(box.left(), mid));
    }
    p.fillRect(box, QColor(255, 255, 225));
    p.setPen(Qt::black);
    p.drawRect(box);
    p.drawText(box, Qt::AlignCenter, text);
  }
}

}  // namespace

AxisRange ResolveAxis(const TChart& chart, bool bottom) {
  bool bars = IsBarChart(chart);
  bool any = false;
  double lo = 0, hi = 0;
  auto take = [&](double v) {
    lo = any ? std::min(lo, v) : v;
    hi = any ? std::max(hi, v) : v;
    any = true;
  };
  for (const TChartSeries* s : chart.Series()) {
    if (bars && !bottom) {
      // The left axis of horizontal bars counts the bars.
      if (s->Count() > 0) {
        take(-0.5);
        take(s->Count() - 0.5);
      }
      continue;
    }
    if (bars && s->Count() > 0) take(0);
    for (const TChartPoint& pt : s->Points()) take(bottom ? pt.X : pt.Y);
  }
  const TChartAxis& a = bottom ? chart.BottomAxis() : chart.LeftAxis();
  AxisRange r;
  r.Min = (a.Automatic() || a.AutomaticMinimum()) ? (any ? lo : 0) : a.Minimum();
  r.Max = (a.Automatic() || a.AutomaticMaximum()) ? (any ? hi : r.Min) : a.Maximum();
  if (r.Max <= r.Min) r.Max = r.Min + 1;
  return r;
}

QPolygonF DecimatedLine(const std::vector<TChartPoint>& points, AxisRange x, AxisRange y, const QRectF& plot) {
  QPolygonF line;
  if (points.size() <= static_cast<std::size_t>(plot.width()) * 2 + 2) {
    line.reserve(static_cast<int>(points.size()));
    for (const TChartPoint& p : points) line.append(QPointF(MapX(p.X, x, plot), MapY(p.Y, y, plot)));
    return line;
  }
  line.reserve(static_cast<int>(plot.width()) * 4 + 8);
  bool open = false;
  double column = 0;
  QPointF first, low, high, last;
  int lowAt = 0, highAt = 0, at = 0;
  auto flush = [&] {
    line.append(first);
    // The extremes in the order the points had them, so the strokes stay the same.
    if (lowAt < highAt) {
      line.append(low);
      line.append(high);
    } else {
      line.append(high);
      line.append(low);
    }
    line.append(last);
  };
  for (const TChartPoint& p : points) {
    QPointF q(MapX(p.X, x, plot), MapY(p.Y, y, plot));
    double c = std::floor(q.x());
    ++at;
    if (!open || c != column) {
      if (open) flush();
      open = true;
      column = c;
      first = low = high = last = q;
      lowAt = highAt = at;
      continue;
    }
    // Pixel y grows downwards: the lowest value has the largest y.
    if (q.y() > low.y()) {
      low = q;
      lowAt = at;
    }
    if (q.y() < high.y()) {
      high = q;
      highAt = at;
    }
    last = q;
  }
  if (open) flush();
  return line;
}

void PaintChart(QPainter& p, const TChart& chart, const QRect& rect, const QPalette& palette) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing, false);
  p.fillRect(rect, palette.color(QPalette::Button));
  QFont font = ToQFont(chart.Font());
  p.setFont(font);
  QFontMetrics fm(font, p.device());
  QColor textColour = ToQColor(chart.Font().Color, palette);
  const TChartMargins& m = chart.Margins();
  Layout l;
  l.inner = rect.adjusted(rect.width() * m.Left / 100 + 1, rect.height() * m.Top / 100 + 1,
                          -(rect.width() * m.Right / 100 + 1), -(rect.height() * m.Bottom / 100 + 1));
  if (!chart.Title().empty()) {
    p.setPen(textColour);
    p.drawText(QRect(l.inner.left(), l.inner.top(), l.inner.width(), fm.height()), Qt::AlignCenter,
               Text(chart.Title()));
    l.inner.setTop(l.inner.top() + fm.height() + 2);
  }
  PaintLegend(p, chart, rect, fm, &l.inner, palette);

  const TChartAxis& left = chart.LeftAxis();
  const TChartAxis& bottom = chart.BottomAxis();
  AxisRange xr = ResolveAxis(chart, true);
  AxisRange yr = ResolveAxis(chart, false);
  bool bars = IsBarChart(chart);
  bool leftNumbers = left.LabelsVisible() && !bars;
  int leftWidth = leftNumbers ? std::max(fm.horizontalAdvance(ValueText(yr.Min)), fm.horizontalAdvance(ValueText(yr.Max))) + 6 : 2;
  int bottomHeight = (bottom.LabelsVisible() ? fm.height() + 3 : 2) + (bottom.Title().empty() ? 0 : fm.height());
  l.depth = chart.View3D() ? std::min(l.inner.width(), l.inner.height()) * chart.Chart3DPercent() / 100 : 0;
  l.front = QRectF(l.inner.left() + leftWidth, l.inner.top() + l.depth, l.inner.width() - leftWidth - l.depth,
                   l.inner.height() - bottomHeight - l.depth);
  if (l.front.width() < 2 || l.front.height() < 2) {
    p.restore();
    return;
  }
  l.back = l.front.translated(l.depth, -l.depth);
  PaintWalls(p, chart, l, palette);

  // Left axis: grid on the back wall, ticks and labels on the front face.
  QPen grid(palette.color(QPalette::Mid), 1, Qt::DotLine);
  if (!bars) {
    for (double v : LabelValues(left, yr, l.front.height(), fm.height())) {
      double y = MapY(v, yr, l.front);
      p.setPen(grid);
      p.drawLine(QPointF(l.back.left(), y - l.depth), QPointF(l.back.right(), y - l.depth));
      p.setPen(Qt::black);
      p.drawLine(QPointF(l.front.left() - 3, y), QPointF(l.front.left(), y));
      if (left.LabelsVisible()) {
        p.setPen(textColour);
        p.drawText(QRectF(l.inner.left(), y - fm.height() / 2.0, leftWidth - 5, fm.height()),
                   Qt::AlignRight | Qt::AlignVCenter, ValueText(v));
      }
    }
  }

  // Bottom axis: the points' own labels where the series have any, else numbers.
  std::vector<BottomLabel> labels;
  if (const TChartSeries* s = LabelSeries(chart)) {
    labels = ThinnedPointLabels(*s, xr, l.front, fm);
  } else {
    int extent = std::max(fm.horizontalAdvance(ValueText(xr.Min)), fm.horizontalAdvance(ValueText(xr.Max)));
    for (double v : LabelValues(bottom, xr, l.front.width(), extent)) labels.push_back({MapX(v, xr, l.front), ValueText(v)});
  }
  double labelTop = l.front.bottom() + 3;
  for (const BottomLabel& b : labels) {
    p.setPen(grid);
    p.drawLine(QPointF(b.x + l.depth, l.back.top()), QPointF(b.x + l.depth, l.back.bottom()));
    p.setPen(Qt::black);
    p.drawLine(QPointF(b.x, l.front.bottom()), QPointF(b.x, l.front.bottom() + 3));
    if (bottom.LabelsVisible()) {
      p.setPen(textColour);
      double w = fm.horizontalAdvance(b.text) + 2;
      p.drawText(QRectF(b.x - w / 2, labelTop, w, fm.height()), Qt::AlignCenter, b.text);
    }
  }
  if (!bottom.Title().empty()) {
    p.setPen(textColour);
    double top = labelTop + (bottom.LabelsVisible() ? fm.height() : 0);
    p.drawText(QRectF(l.front.left(), top, l.front.width(), fm.height()), Qt::AlignCenter, Text(bottom.Title()));
  }
  p.setPen(Qt::black);
  p.drawLine(l.front.bottomLeft(), l.front.bottomRight());
  p.drawLine(l.front.topLeft(), l.front.bottomLeft());

  // The data, on the back wall; marks may reach beyond it.
  for (const TChartSeries* s : chart.Series()) {
    if (auto* bar = dynamic_cast<const THorizBarSeries*>(s)) {
      p.setClipRect(rect);
      PaintBars(p, *bar, xr, l, rect, fm, palette);
    } else {
      p.setClipRect(l.back.adjusted(0, 0, 1, 1));
      PaintLine(p, *s, xr, yr, l, palette);
    }
  }
  p.restore();
}

ChartWidget::ChartWidget(const TChart& chart, QWidget* parent) : QWidget(parent), chart_(chart) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void ChartWidget::MarkDirty() {
  // One update request per paint, however many points arrive before it.
  if (dirty_) return;
  dirty_ = true;
  update();
}

void ChartWidget::paintEvent(QPaintEvent*) {
  dirty_ = false;
  QPainter p(this);
  PaintChart(p, chart_, rect(), palette());
}
