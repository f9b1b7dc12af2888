// tavdesigner's window: a form file of regression components, the palette page of the registered
// components, an object inspector of the selected components' published properties, and a Fit
// button that shows the regression as a host application would.
//
// The window owns the form's components (through the form's root). Every change goes into the
// components at once and marks the form modified; Save writes the whole file or nothing.
#pragma once

#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <vector>

#include "tav/formfile.h"

class QLabel;
class QListWidget;
class QTableWidget;
class QToolBar;

namespace tav {

class TStatusLine;

class TDesignerWindow : public QMainWindow {
  public:
    explicit TDesignerWindow(QWidget* parent = nullptr);
    ~TDesignerWindow() override;

    // Each asks first, when the form has unsaved changes, whether to save them; false when the
    // user cancels or the file cannot be read (the form shown is then the one before).
    bool NewForm();
    bool OpenFile(const QString& path);
    // Writes the form to its file (Save) or to `path`; false after an error box.
    bool Save();
    bool SaveAs(const QString& path);

    // Adds a component of a registered class with a unique name, and selects it.
    void AddComponent(const std::string& className);
    void DeleteSelection();
    // Opens the first selected regression component, loads, fits and shows the report window;
    // the status line tells what the load used and skipped.
    void Fit();

    void Select(const QStringList& names);
    std::vector<TComponent*> Selection() const;
    const std::vector<TComponent*>& Components() const { return form_.components; }
    const QString& FileName() const { return fileName_; }
    bool Modified() const { return modified_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    bool ConfirmDiscard();
    void SetForm(TFormContents form, const QString& fileName);
    void SetModified(bool modified);
    void ListComponents();
    void Inspect();
    void InspectRow(int row, const TPropertyInfo& property,
                    const std::vector<TComponent*>& selection);
    // Writes a value typed or picked in the inspector into the components it was shown for.
    void Write(const TPropertyInfo& property, const TPropertyValue& value,
               const std::vector<TComponent*>& selection);
    void EditInDialog(const std::string& propertyName);
    QString BaseDirectory() const;

    TFormContents form_;
    QString fileName_;
    bool modified_ = false;
    QListWidget* components_;
    QTableWidget* inspector_;
    QToolBar* palette_;
    TStatusLine* status_;
};

}  // namespace tav
