// The chart painter: axis ranges, decimation and what lands on screen.
#include <QPainter>

#include "qt_fixture.h"
#include "qtchart.h"
#include "tee.h"

namespace {

class ChartForm : public TestForm {
 public:
  ChartForm() {
    chart = Put<TChart>("chart", 0, 0, 400, 200);
    chart->SetTitle("Speed");
    chart->BottomAxis().SetTitle("Drive Position");
    read = Add<TFastLineSeries>("read", chart);
    read->SetTitle("Read");
    read->SetSeriesColor(clRed);
    write = Add<TFastLineSeries>("write", chart);
    write->SetTitle("Write");
    write->SetSeriesColor(clGreen);
    bars = Put<TChart>("bars", 0, 210, 400, 53);
    bars->SetLegendVisible(false);
    bars->SetView3D(false);
    bars->BottomAxis().SetAutomatic(false);
    bars->BottomAxis().SetMaximum(25);
    bars->LeftAxis().SetLabelsVisible(false);
    bar = Add<THorizBarSeries>("bar", bars);
    bar->SetSeriesColor(clRed);
    bar->SetMarksVisible(true);
    bar->SetValueFormat("#,##0.#ms");
  }
  TChart* chart;
  TFastLineSeries* read;
  TFastLineSeries* write;
  TChart* bars;
  THorizBarSeries* bar;
};

class ChartTest : public QtFrontEndTest {
 protected:
  void SetUp() override {
    QtFrontEndTest::SetUp();
    f = Create<ChartForm>();
    f->Show();
    Application->ProcessMessages();
  }
  ChartWidget* Widget(const char* name) { return WidgetOf<ChartWidget>(*f, name); }
  QImage Grab(const char* name) { return Widget(name)->grab().toImage(); }
  ChartForm* f = nullptr;
};

const QColor kRed(255, 0, 0), kGreen(0, 128, 0);

TEST(AxisRangeTest, FixedEndsStayAndAutomaticEndsFollowTheData) {
  TestForm form;
  TChart* chart = form.Put<TChart>("c", 0, 0, 100, 100);
  auto* s = form.Add<TFastLineSeries>("s", chart);
  AxisRange empty = ResolveAxis(*chart, false);
  EXPECT_LT(empty.Min, empty.Max) << "never an empty range";
  s->AddXY(10, 300, "", clTeeColor);
  s->AddXY(20, 900, "", clTeeColor);

  struct Case {
    const char* what;
    bool automatic, autoMin, autoMax;
    double min, max, wantMin, wantMax;
  } cases[] = {
      {"automatic", true, true, true, 0, 0, 300, 900},
      {"fixed minimum, maximum from the data", false, false, true, 0, 0, 0, 900},
      {"fixed both", false, false, false, 100, 2000, 100, 2000},
      {"fixed maximum below the data", false, true, false, 0, 500, 300, 500},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TChartAxis& a = chart->LeftAxis();
    a.SetAutomatic(c.automatic);
    a.SetAutomaticMinimum(c.autoMin);
    a.SetAutomaticMaximum(c.autoMax);
    a.SetMaximum(std::max(c.max, a.Minimum()));
    a.SetMinimum(c.min);
    a.SetMaximum(c.max);
    AxisRange r = ResolveAxis(*chart, false);
    EXPECT_EQ(r.Min, c.wantMin);
    EXPECT_EQ(r.Max, c.wantMax);
  }
  EXPECT_EQ(ResolveAxis(*chart, true).Min, 10);

  // Horizontal bars start at 0 on the value axis.
  TChart* bars = form.Put<TChart>("b", 0, 0, 100, 100);
  form.Add<THorizBarSeries>("bar", bars)->AddXY(12, 12, "", clTeeColor);
  EXPECT_EQ(ResolveAxis(*bars, true).Min, 0);
  EXPECT_EQ(ResolveAxis(*bars, true).Max, 12);
}

TEST(DecimationTest, KeepsEveryColumnsExtremesWithinFourPointsAColumn) {
  std::vector<TChartPoint> points;
  for (int i = 0; i < 16383; ++i) points.push_back({double(i), i == 7000 ? 100.0 : 50.0 + (i % 2), "", clRed});
  QRectF plot(0, 0, 500, 100);
  QPolygonF line = DecimatedLine(points, {0, 16382}, {0, 100}, plot);
  EXPECT_LE(line.size(), 4 * 501);
  double top = 1e9, bottom = -1e9;
  for (const QPointF& p : line) {
    top = std::min(top, p.y());
    bottom = std::max(bottom, p.y());
  }
  EXPECT_DOUBLE_EQ(top, 0) << "the one spike survives";
  EXPECT_DOUBLE_EQ(bottom, 50);
  EXPECT_DOUBLE_EQ(line.front().x(), 0);
  EXPECT_DOUBLE_EQ(line.back().x(), 500);
}

TEST_F(ChartTest, LinesAndLegendShowInTheSeriesColours) {
  int legendGreen = CountColour(Grab("chart"), kGreen);
  EXPECT_GT(legendGreen, 0) << "the legend has an entry for the empty Write series";
  int noLines = CountColour(Grab("chart"), kRed);
  for (int i = 0; i <= 100; ++i) f->read->AddXY(i, 1000 + 10 * i, "", clTeeColor);
  for (int i = 0; i <= 100; ++i) f->write->AddXY(i, 500, "", clTeeColor);
  Application->ProcessMessages();
  QImage img = Grab("chart");
  EXPECT_GT(CountColour(img, kRed), noLines + 150) << "a red line across the plot";
  EXPECT_GT(CountColour(img, kGreen), legendGreen + 150);

  f->chart->SetLegendVisible(false);
  f->write->Clear();
  EXPECT_EQ(CountColour(Grab("chart"), kGreen), 0);
}

TEST_F(ChartTest, ChangesMarkTheChartDirtyAndThePumpPaintsIt) {
  for (int i = 0; i <= 100; ++i) f->read->AddXY(i, 10 * i, "", clTeeColor);
  EXPECT_TRUE(Widget("chart")->Dirty()) << "a point only marks the chart";
  Application->ProcessMessages();
  EXPECT_FALSE(Widget("chart")->Dirty());
  QImage before = Grab("chart");

  TChartAxis& left = f->chart->LeftAxis();
  left.SetAutomatic(false);
  left.SetAutomaticMaximum(true);
  left.SetIncrement(500);
  Application->ProcessMessages();
  QImage coarse = Grab("chart");
  left.SetIncrement(100);
  EXPECT_TRUE(Widget("chart")->Dirty());
  Application->ProcessMessages();
  EXPECT_FALSE(Widget("chart")->Dirty());
  QImage fine = Grab("chart");
  EXPECT_NE(before, coarse);
  EXPECT_NE(coarse, fine) << "more grid lines and labels";
}

TEST_F(ChartTest, BarReachesItsValueAndCarriesItsMark) {
  f->bar->AddXY(10, 10, "", clTeeColor);
  Application->ProcessMessages();
  QImage img = Grab("bars");
  int leftmost = img.width(), rightmost = -1;
  for (int y = 0; y < img.height(); ++y) {
    for (int x = 0; x < img.width(); ++x) {
      if (CountColour(img, kRed, QRect(x, y, 1, 1))) {
        leftmost = std::min(leftmost, x);
        rightmost = std::max(rightmost, x);
      }
    }
  }
  ASSERT_GT(rightmost, leftmost);
  EXPECT_EQ(f->bar->MarkText(0), "10ms");
  // 10 of 0..25: the bar is 40% of the plot, which is most of the chart's width.
  double share = double(rightmost - leftmost) / img.width();
  EXPECT_GT(share, 0.3);
  EXPECT_LT(share, 0.45);
  // The mark's pale box lies right of the bar.
  EXPECT_GT(CountColour(img, QColor(255, 255, 225), QRect(rightmost, 0, img.width() - rightmost, img.height())), 50);
}

TEST_F(ChartTest, DensePointLabelsAreThinnedNotOverprinted) {
  // With labels on every point of a dense series the axis would turn into a
  // black band; thinned, the band under the plot stays mostly background.
  for (int i = 0; i < 2000; ++i) f->read->AddXY(i * 32, 1000, std::to_string(i) + "GB", clTeeColor);
  Application->ProcessMessages();
  QImage img = Grab("chart");
  QColor background = QApplication::palette().color(QPalette::Button);
  int rowTop = img.height() - 30, rowBottom = img.height() - 18;
  int text = 0, all = 0;
  for (int y = rowTop; y < rowBottom; ++y) {
    for (int x = 40; x < 300; ++x, ++all) text += img.pixelColor(x, y) != background;
  }
  EXPECT_GT(text, 0) << "some labels are written";
  EXPECT_LT(text, all / 3);
}

}  // namespace
