// How long one repaint of the sequential-speed chart takes when it holds the
// most points a run adds (16,383 zones), read and write, each point labelled.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <string>

#include "qtchart.h"
#include "tee.h"

namespace {

class SpeedForm : public TForm {
 public:
  explicit SpeedForm(int points) : TForm("bench") {
    chart = Add<TChart>("chart");
    chart->SetBounds(1, 1, 631, 175);
    chart->SetTitle("Sequential Speed (kilobytes per second, higher is better)");
    chart->BottomAxis().SetTitle("Drive Position");
    chart->BottomAxis().SetIncrement(32);
    chart->LeftAxis().SetAutomatic(false);
    chart->LeftAxis().SetAutomaticMaximum(true);
    chart->LeftAxis().SetIncrement(500);
    chart->SetChart3DPercent(7);
    chart->BottomAxis().SetAutomatic(false);
    chart->BottomAxis().SetMaximum((points - 1) * 32.0);
    auto* read = Add<TFastLineSeries>("read", chart);
    read->SetTitle("Read");
    auto* write = Add<TFastLineSeries>("write", chart);
    write->SetTitle("Write");
    write->SetSeriesColor(clGreen);
    for (int i = 0; i < points; ++i) {
      double kbps = 20000 + 4000 * std::sin(i / 300.0) + (i % 7) * 90;
      std::string label = std::to_string(i * 32 / 1024) + "." + std::to_string(i % 100) + "GB";
      read->AddXY(i * 32.0, kbps, label, clTeeColor);
      write->AddXY(i * 32.0, kbps * 0.8, label, clTeeColor);
    }
  }
  TChart* chart;
};

void BM_PaintSpeedChart(benchmark::State& state) {
  SpeedForm form(static_cast<int>(state.range(0)));
  QImage image(631, 175, QImage::Format_RGB32);
  QPalette palette = QApplication::palette();
  for (auto _ : state) {
    QPainter p(&image);
    PaintChart(p, *form.chart, image.rect(), palette);
    p.end();
    benchmark::DoNotOptimize(image.constBits());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0) * 2);
}
BENCHMARK(BM_PaintSpeedChart)->Arg(100)->Arg(16383)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
