#include "forms/installwindows.h"

#include "engine/tavprogress.h"
#include "engine/tavquery.h"
#include "engine/tavtable.h"
#include "engine/tavwindows.h"
#include "forms/loadgage.h"
#include "forms/tavoutpt.h"
#include "forms/tavplot.h"
#include "host/widgets/dialogs.h"
#include "host/widgets/forms.h"

namespace tav {

namespace {

class TQtRegressionWindows final : public TRegressionWindows {
  public:
    void ShowReport(TTAVRegression& regression, const TRegressionReport& r) override {
        TRegressionOutputForm form;
        form.SetReportMessage(regression.ReportMessage());
        form.Open(regression, regression.Description(), r.DependentVariable, r.IndependentVariables,
                  r.Observations, r.DegreesOfFreedom, r.Coefficients, r.ResidualMeanSquare, r.SSE,
                  r.SSR, r.Means, r.StdDevs, r.StdErrors, r.TValues, r.FStatistic,
                  r.CovarianceLines, r.CorrelationLines);
    }

    void ShowPlots(TTAVRegression& regression) override {
        TTAVPlotForm form;
        if (auto* query = dynamic_cast<TTAVQuery*>(&regression.DataSet()))
            form.QueryPlot(*query);
        else
            form.TablePlot(dynamic_cast<TTAVTable&>(regression.DataSet()));
    }
};

class TQtLoadProgressWindows final : public TLoadProgressWindows {
  public:
    std::unique_ptr<TLoadProgressView> ShowLoadProgress(const TLoadProgress& progress) override {
        auto dialog = std::make_unique<TTAVGaugeDlg>(progress);
        dialog->show();
        UpdateNow(dialog.get());
        return dialog;
    }
};

}  // namespace

void RegisterRegressionWindows() {
    static TQtRegressionWindows windows;
    static TQtLoadProgressWindows progressWindows;
    SetRegressionWindows(&windows);
    SetLoadProgressWindows(&progressWindows);
    InstallMessageBoxes();
}

}  // namespace tav
