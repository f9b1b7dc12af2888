// The application object's hint: one text for the whole application and one event that fires when
// it changes, as the classic framework had them.
//
// A control's or a menu item's hint is "short|long": the short part is the control's tooltip, the
// long part is what the application's hint becomes while the mouse rests on the control or while
// the menu item is highlighted (a hint without "|" is both). A status line shows the hint by
// installing an OnHint handler that copies Hint() into itself.
//
// Controls given a hint here are followed by one application-wide event filter, installed with
// the first hint (a QApplication must exist by then):
// - the mouse entering a widget sets the long hint of that widget, or of its nearest parent that
//   has one ("" when none has); leaving a widget for its parent sets the parent's;
// - highlighting a menu item, by mouse or keyboard, sets the item's long hint; items without a hint
//   (and disabled ones whose hint was erased) set ""; closing a popup menu sets "".
// While a popup menu is open only the menu changes the hint, so a text set just before the popup
// opens (a "what you are choosing" caption) stays until an item is highlighted.
//
// Everything runs on the user-interface thread.
#pragma once

#include <functional>
#include <string>

class QAction;
class QWidget;

namespace tav {

// The application's current hint text.
const std::string& Hint();

// Sets the hint; when the text changes, calls the OnHint handler (if one is installed).
void SetHint(const std::string& hint);

// The hint event. Installing returns the previous handler so that a window can restore it when it
// is freed; an empty function removes the handler.
using TNotifyEvent = std::function<void()>;
TNotifyEvent SetOnHint(TNotifyEvent handler);
const TNotifyEvent& OnHint();

// The parts of a "short|long" hint: before and after the first "|" (the whole text when there is
// no "|").
std::string GetShortHint(const std::string& hint);
std::string GetLongHint(const std::string& hint);

// A control's hint: its tooltip becomes the short part; the whole text is kept for the status line.
void SetControlHint(QWidget* control, const std::string& hint);
std::string ControlHint(const QWidget* control);

// A menu item's hint.
void SetMenuItemHint(QAction* item, const std::string& hint);
std::string MenuItemHint(const QAction* item);

}  // namespace tav
