// Window behaviours of the host layer: modal and non-modal show, the hook that answers modal
// windows in tests and headless runs, immediate repaint, and the guard that keeps exceptions out
// of Qt's event loop. The header includes no widget header.
#pragma once

#include <functional>

class QDialog;
class QWidget;

namespace tav {

// The modal-show hook receives each window once it is shown (non-modally), may act on it, and the
// window is closed when the hook returns. Tests and headless runs install one; without a hook a
// window runs its real modal loop. Installing returns the previous hook.
using TModalHook = std::function<void(QDialog* form)>;
TModalHook SetModalHook(TModalHook hook);
bool HasModalHook();

// Shows `form` modally and returns its result (the modal result the window ended with).
int ShowModal(QDialog* form);

// Shows a window without waiting for it.
void ShowNonModal(QWidget* form);

// Repaints a window at once, without returning to the event loop (the framework's Update).
void UpdateNow(QWidget* form);

// Runs an event handler; an Exception (or any std::exception) it raises is shown in an error
// message box instead of unwinding through Qt's event loop.
void Guarded(const std::function<void()>& handler);

}  // namespace tav
