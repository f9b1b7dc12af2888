#include "host/widgets/apphint.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <QWidget>
#include <unordered_map>
#include <utility>

#include "tav/forms.h"

namespace tav {

namespace {

constexpr const char* kHintProperty = "tavHint";

struct HintState {
    std::string hint;
    TNotifyEvent onHint;
};

HintState& State() {
    static HintState state;
    return state;
}

QString ToQString(const std::string& s) { return QString::fromStdString(s); }

// The hint of a widget, or of its nearest parent that has one, as the classic framework looked
// it up for the control under the mouse.
std::string InheritedHint(const QWidget* w) {
    for (; w != nullptr; w = w->parentWidget()) {
        std::string hint = ControlHint(w);
        if (!hint.empty()) return hint;
    }
    return {};
}

std::string ItemLongHint(const QAction* item) {
    return item != nullptr ? GetLongHint(MenuItemHint(item)) : std::string();
}

// Follows the mouse over widgets and the highlighted item of every menu, and sets the
// application's hint from them.
class THintFilter : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!watched->isWidgetType()) return false;
        auto* widget = static_cast<QWidget*>(watched);
        switch (event->type()) {
            case QEvent::Enter:
            case QEvent::Leave:
                if (qobject_cast<QMenu*>(widget) == nullptr &&
                    QApplication::activePopupWidget() == nullptr)
                    Crossed(widget, event->type() == QEvent::Enter);
                break;
            case QEvent::Show:
                if (auto* menu = qobject_cast<QMenu*>(widget)) MenuShown(menu);
                break;
            case QEvent::Hide:
                if (auto* menu = qobject_cast<QMenu*>(widget)) MenuHidden(menu);
                break;
            case QEvent::MouseMove:
                if (auto* menu = qobject_cast<QMenu*>(widget))
                    Highlighted(menu, menu->actionAt(static_cast<QMouseEvent*>(event)->pos()));
                break;
            default:
                break;
        }
        return false;
    }

  private:
    static void Set(const std::string& hint) {
        Guarded([&] { SetHint(hint); });
    }

    static void Crossed(QWidget* widget, bool entered) {
        if (entered)
            Set(GetLongHint(InheritedHint(widget)));
        else if (widget->isWindow())
            Set(std::string());
        else
            Set(GetLongHint(InheritedHint(widget->parentWidget())));
    }

    void MenuShown(QMenu* menu) {
        highlighted_[menu] = nullptr;
        // Keyboard navigation highlights items without moving the mouse.
        if (!menu->property("tavHintHooked").toBool()) {
            menu->setProperty("tavHintHooked", true);
            QObject::connect(menu, &QMenu::hovered, this,
                             [this, menu](QAction* item) { Highlighted(menu, item); });
            QObject::connect(menu, &QObject::destroyed, this,
                             [this, menu] { highlighted_.erase(menu); });
        }
    }

    void MenuHidden(QMenu* menu) {
        highlighted_.erase(menu);
        // Closing a popup clears the hint; a submenu closing leaves it to its parent menu.
        if (qobject_cast<QMenu*>(menu->parentWidget()) == nullptr) Set(std::string());
    }

    // Only a change of the highlighted item sets the hint: moving over the menu's margin before
    // any item was highlighted keeps the text set when the popup opened. Disabled items are
    // followed too (Qt does not highlight them), so that their empty hint shows.
    void Highlighted(QMenu* menu, QAction* item) {
        auto it = highlighted_.find(menu);
        if (it == highlighted_.end()) it = highlighted_.emplace(menu, nullptr).first;
        if (it->second == item) return;
        it->second = item;
        Set(ItemLongHint(item));
    }

    std::unordered_map<QMenu*, QPointer<QAction>> highlighted_;
};

void EnsureFilter() {
    static QPointer<THintFilter> filter;
    if (filter || qApp == nullptr) return;
    filter = new THintFilter(qApp);
    qApp->installEventFilter(filter);
}

}  // namespace

const std::string& Hint() { return State().hint; }

void SetHint(const std::string& hint) {
    HintState& s = State();
    if (s.hint == hint) return;
    s.hint = hint;
    // A copy: the handler may install another one while it runs.
    if (TNotifyEvent handler = s.onHint) handler();
}

TNotifyEvent SetOnHint(TNotifyEvent handler) {
    EnsureFilter();
    return std::exchange(State().onHint, std::move(handler));
}

const TNotifyEvent& OnHint() { return State().onHint; }

std::string GetShortHint(const std::string& hint) {
    const auto bar = hint.find('|');
    return bar == std::string::npos ? hint : hint.substr(0, bar);
}

std::string GetLongHint(const std::string& hint) {
    const auto bar = hint.find('|');
    return bar == std::string::npos ? hint : hint.substr(bar + 1);
}

void SetControlHint(QWidget* control, const std::string& hint) {
    EnsureFilter();
    control->setProperty(kHintProperty, ToQString(hint));
    control->setToolTip(ToQString(GetShortHint(hint)));
}

std::string ControlHint(const QWidget* control) {
    return control->property(kHintProperty).toString().toStdString();
}

void SetMenuItemHint(QAction* item, const std::string& hint) {
    EnsureFilter();
    item->setProperty(kHintProperty, ToQString(hint));
}

std::string MenuItemHint(const QAction* item) {
    return item->property(kHintProperty).toString().toStdString();
}

}  // namespace tav
