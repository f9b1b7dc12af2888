// The progress of a component's load: the share of the records loaded and the line of text under
// the gauge. The loader keeps it up to date as it reads; it is drawn only when the component's
// ShowLoadProgress asks for it, by a window that the windows library makes then (the load
// progress dialog), so a load that shows nothing (nearly every one) makes no window at all.
// The engine draws nothing itself: it asks through TLoadProgressWindows, as it asks for the
// report and plot windows through TRegressionWindows (tavwindows.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tav {

class TLoadProgress;

// A window that shows a load's progress. It is told of every change and freed when the load ends,
// however it ends; the progress it shows outlives it.
class TLoadProgressView {
  public:
    virtual ~TLoadProgressView() = default;
    // The progress changed. The loader does not return to the event loop until the load ends, so
    // a view that wants to be seen repaints at once.
    virtual void ProgressChanged(const TLoadProgress& progress) = 0;
};

// What the engine asks of the windows library for a load's progress.
class TLoadProgressWindows {
  public:
    virtual ~TLoadProgressWindows() = default;
    // Makes the window of `progress` and shows it (without waiting for it).
    virtual std::unique_ptr<TLoadProgressView> ShowLoadProgress(const TLoadProgress& progress) = 0;
};

// Installs the maker of progress windows (not owned; it lives for the process);
// RegisterRegressionWindows installs the windows library's. With none installed, a load that
// shows its progress shows it nowhere and loads as any other.
void SetLoadProgressWindows(TLoadProgressWindows* windows);

// Observes every load's progress: called after each change and once when the load ends (`freed`
// true). Lets tests and tools follow a load without a screen. Returns the previous one.
using TGaugeObserver = std::function<void(const TLoadProgress& progress, bool freed)>;
TGaugeObserver SetGaugeObserver(TGaugeObserver observer);

// The progress of one load, made by the loader for that load.
class TLoadProgress {
  public:
    TLoadProgress() = default;
    ~TLoadProgress();
    TLoadProgress(const TLoadProgress&) = delete;
    TLoadProgress& operator=(const TLoadProgress&) = delete;

    // A share from 0 to 100 (larger ones are 100).
    void SetGaugeProgress(uint16_t percent);
    void SetGaugeText(const std::string& text);
    // SetGaugeText("Records Loaded: " + count), the text made only when it is shown or asked for:
    // making it costs more than reading a record.
    void SetGaugeRecords(int count);
    // Shows the progress in a window of the installed windows library until the load ends.
    void Show();

    int GaugeProgress() const { return progress_; }
    std::string GaugeText() const;
    // Whether the progress is shown (Show was called).
    bool Visible() const { return visible_; }

  private:
    void Changed();

    int progress_ = 0;
    mutable std::string text_;
    mutable int records_ = -1;  // a count not yet made into text_, or -1
    bool visible_ = false;
    std::unique_ptr<TLoadProgressView> view_;
};

}  // namespace tav
