// Drawing plots of 2500 records: each dot an ellipse and a border fill, as the plot window draws
// it, for three plot kinds on a full dataset. Beside them, the canvas alone on 2500 clustered dots
// and the same dots drawn the plain way (QPainter per ellipse, a fill that visits the whole
// region), which gives the same pixels.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "tav/forms.h"
#include "tav/tavplot.h"
#include "tav/tavquery.h"

namespace {

QTemporaryDir* g_dir = nullptr;

// 2500 records made by the query itself: two control variables and a noisy response, spread so
// that the dots crowd into large touching clusters.
tav::TTAVQuery& Regression() {
    static std::unique_ptr<tav::TTAVQuery> q = [] {
        // An empty file is an empty database: the query needs no table.
        const QString path = g_dir->filePath("plot.db");
        QFile(path).open(QIODevice::WriteOnly);
        auto query = std::make_unique<tav::TTAVQuery>();
        query->SetDatabaseName(path.toStdString());
        query->SetSQLText(
            "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < 2500) "
            "SELECT (i * 7919 % 1000) / 10.0 AS x1, (i * 104729 % 997) / 7.0 AS x2, "
            "3.0 + 0.05 * (i * 7919 % 1000) - 0.02 * (i * 104729 % 997) "
            "+ ((i * 31337 % 1000) - 500) / 40.0 AS y FROM s");
        for (int k = 1; k <= 2; ++k) {
            tav::TIndepVar v;
            v.SetTransformation("None");
            v.SetField1("x" + std::to_string(k));
            query->SetControl(k, v);
        }
        tav::TDependentVar r;
        r.SetField("y");
        query->SetResponse(r);
        query->Open();
        query->ReLoad();
        query->Execute();
        return query;
    }();
    return *q;
}

// Runs the timing loop inside an open plot window.
void InPlotWindow(benchmark::State& state, const std::function<void(tav::TTAVPlotForm&)>& plot) {
    tav::TTAVQuery& q = Regression();
    if (q.DataCount() != 2500) {
        state.SkipWithError("short load");
        return;
    }
    const tav::TModalHook previous = tav::SetModalHook([&](QDialog* dialog) {
        auto& form = *static_cast<tav::TTAVPlotForm*>(dialog);
        for (auto _ : state) {
            plot(form);
            benchmark::DoNotOptimize(form.Image().constBits());
        }
    });
    q.ShowPlots();
    tav::SetModalHook(previous);
}

void BM_Plot_ResidualvsInput_2500(benchmark::State& state) {
    InPlotWindow(state, [](tav::TTAVPlotForm& f) { f.ResidualvsInputBtnClick(); });
}
void BM_Plot_Scatter_2500(benchmark::State& state) {
    InPlotWindow(state, [](tav::TTAVPlotForm& f) { f.ScatterItemClick(1); });
}
void BM_Plot_ECDF_2500(benchmark::State& state) {
    InPlotWindow(state, [](tav::TTAVPlotForm& f) { f.ECDFPlotBtnClick(); });
}

// 2500 dots in clusters, as a crowded plot has them.
const std::vector<QPoint>& ClusteredDots() {
    static const std::vector<QPoint> dots = [] {
        std::vector<QPoint> d;
        std::mt19937 random(7);
        std::normal_distribution<double> spread(0, 25);
        for (int i = 0; i < 2500; ++i) {
            const int cx = 40 + (i / 500) * 60;
            d.emplace_back(cx + static_cast<int>(spread(random)),
                           90 + static_cast<int>(spread(random) / 2));
        }
        return d;
    }();
    return dots;
}

void BM_Canvas_2500ClusteredDots(benchmark::State& state) {
    tav::TPlotCanvas canvas(327, 185);
    for (auto _ : state) {
        canvas.SetBrushColor(Qt::white);
        canvas.FillRect(QRect(0, 0, 327, 185));
        canvas.SetBrushColor(QColor(128, 0, 0));
        for (const QPoint& p : ClusteredDots()) {
            canvas.Ellipse(p.x(), p.y(), p.x() + 4, p.y() + 4);
            canvas.FloodFill(p.x() + 2, p.y() + 2, Qt::white);
        }
        benchmark::DoNotOptimize(canvas.Image().constBits());
    }
}

// The plain way: QPainter draws each ellipse, and the fill visits every pixel of the region.
void BM_Plain_2500ClusteredDots(benchmark::State& state) {
    QImage image(327, 185, QImage::Format_RGB32);
    const QRgb white = qRgb(255, 255, 255);
    const QRgb dot = qRgb(128, 0, 0);
    std::vector<uint8_t> seen(327 * 185);
    std::vector<int> todo;
    for (auto _ : state) {
        image.fill(white);
        for (const QPoint& p : ClusteredDots()) {
            {
                QPainter painter(&image);
                painter.setBrush(QColor(dot));
                painter.drawEllipse(QRectF(p.x() + 0.5, p.y() + 0.5, 3, 3));
            }
            const int x = p.x() + 2, y = p.y() + 2;
            if (x < 0 || y < 0 || x >= 327 || y >= 185) continue;
            auto* px = reinterpret_cast<QRgb*>(image.bits());
            if (px[y * 327 + x] == white) continue;
            std::fill(seen.begin(), seen.end(), 0);
            todo.assign(1, y * 327 + x);
            seen[static_cast<std::size_t>(y * 327 + x)] = 1;
            while (!todo.empty()) {
                const int q = todo.back();
                todo.pop_back();
                px[q] = dot;
                const int qx = q % 327, qy = q / 327;
                const int around[4] = {qx > 0 ? q - 1 : -1, qx < 326 ? q + 1 : -1,
                                       qy > 0 ? q - 327 : -1, qy < 184 ? q + 327 : -1};
                for (int r : around) {
                    if (r < 0 || seen[static_cast<std::size_t>(r)] || px[r] == white) continue;
                    seen[static_cast<std::size_t>(r)] = 1;
                    todo.push_back(r);
                }
            }
        }
        benchmark::DoNotOptimize(image.constBits());
    }
}

BENCHMARK(BM_Plot_ResidualvsInput_2500)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Plot_Scatter_2500)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Plot_ECDF_2500)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Canvas_2500ClusteredDots)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Plain_2500ClusteredDots)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return tavbench::Run(argc, argv, &g_dir); }
