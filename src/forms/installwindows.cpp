#include "tav/installwindows.h"

#include <typeinfo>

#include "forms/loadgage.h"
#include "tav/dialogs.h"
#include "tav/forms.h"
#include "tav/tavclasses.h"
#include "tav/tavoutpt.h"
#include "tav/tavplot.h"
#include "tav/tavprogress.h"
#include "tav/tavquery.h"
#include "tav/tavtable.h"
#include "tav/tavwindows.h"

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
        const TComponentKind kind = ComponentKind(&regression.DataSet());
        if (kind.query)
            form.QueryPlot(*kind.query);
        else if (kind.table)
            form.TablePlot(*kind.table);
        else
            throw std::bad_cast();
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
    // Message boxes too, so that the matrix library's display routines show theirs in a host
    // that has used no dataset or window yet.
    InstallMessageBoxes();
}

}  // namespace tav
