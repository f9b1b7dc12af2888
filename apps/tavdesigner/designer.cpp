#include "designer.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QResizeEvent>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTableWidget>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>
#include <functional>

#include "tav/db.h"
#include "tav/designintf.h"
#include "tav/forms.h"
#include "tav/messages.h"
#include "tav/outputfiles.h"
#include "tav/qtstrings.h"
#include "tav/sysutils.h"
#include "tav/tav32reg.h"
#include "tav/tavclasses.h"
#include "tav/tavquery.h"
#include "tav/tavtable.h"

namespace tav {

// The status line: as much of its text as fits, cut with an ellipsis, and the whole in its tool
// tip. It takes the width it is given rather than widening the window to its text.
class TStatusLine : public QLabel {
  public:
    using QLabel::QLabel;
    void Show(const QString& text) {
        full_ = text;
        setToolTip(text);
        Fit();
    }

  protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        Fit();
    }

  private:
    void Fit() { setText(fontMetrics().elidedText(full_, Qt::ElideRight, width())); }
    QString full_;
};

namespace {

constexpr const char* kPage = "Brannock Statistics";

void ShowError(const std::exception& e) {
    MessageDlg(ErrorMessage(e), TMsgDlgType::mtError, mbOK, 0);
}

// A string list edited as lines of text; the edit is taken when the box loses the focus.
class TLinesEdit : public QPlainTextEdit {
  public:
    using QPlainTextEdit::QPlainTextEdit;
    std::function<void()> onCommit;

  protected:
    void focusOutEvent(QFocusEvent* e) override {
        QPlainTextEdit::focusOutEvent(e);
        if (onCommit) onCommit();
    }
};

TStringList Lines(const QString& text) {
    TStringList list;
    if (text.isEmpty()) return list;
    for (const QString& line : text.split('\n')) list.Add(line.toStdString());
    return list;
}

QString Text(const TStringList& list) {
    QStringList lines;
    for (const auto& line : list.Items()) lines << Q(line);
    return lines.join('\n');
}

// The term of a variable definition ("Ln(ADVERT)", "Disabled"), when it has six entries.
std::string Term(const std::string& typeName, const TStringList& entries) {
    if (entries.Count() != 6) return {};
    if (typeName == "TIndepVar") {
        TIndepVar v;
        v.Assign(entries);
        return v.OutputTerm();
    }
    if (typeName == "TDependentVar") {
        TDependentVar v;
        v.Assign(entries);
        return v.OutputTerm();
    }
    return {};
}

// The regression and dataset sides of a component, or nulls.
std::pair<TDataSet*, TTAVRegression*> Regression(TComponent* c) {
    const TComponentKind kind = ComponentKind(c);
    return {kind.dataSet, kind.regression};
}

}  // namespace

TDesignerWindow::TDesignerWindow(QWidget* parent) : QMainWindow(parent) {
    setObjectName("DesignerWindow");
    resize(760, 560);

    QMenu* file = menuBar()->addMenu("&File");
    auto action = [this](QMenu* menu, const char* name, const QString& text,
                         const QKeySequence& keys, std::function<void()> handler) {
        QAction* a = menu->addAction(text);
        a->setObjectName(name);
        a->setShortcut(keys);
        connect(a, &QAction::triggered, this, [handler] { Guarded(handler); });
        return a;
    };
    action(file, "NewAction", "&New", QKeySequence::New, [this] { NewForm(); });
    action(file, "OpenAction", "&Open...", QKeySequence::Open, [this] {
        const QString path = QFileDialog::getOpenFileName(this, "Open a form file", BaseDirectory(),
                                                          "Form files (*.dfm);;All files (*)");
        if (!path.isEmpty()) OpenFile(path);
    });
    action(file, "SaveAction", "&Save", QKeySequence::Save, [this] { Save(); });
    action(file, "SaveAsAction", "Save &As...", QKeySequence::SaveAs, [this] {
        const QString path = QFileDialog::getSaveFileName(this, "Save the form file", fileName_,
                                                          "Form files (*.dfm)");
        if (!path.isEmpty()) SaveAs(path);
    });
    file->addSeparator();
    action(file, "QuitAction", "&Quit", QKeySequence::Quit, [this] { close(); });
    QMenu* component = menuBar()->addMenu("&Component");
    QAction* fit =
        action(component, "FitAction", "&Fit", QKeySequence(Qt::Key_F9), [this] { Fit(); });
    action(component, "DeleteAction", "&Delete", QKeySequence::Delete,
           [this] { DeleteSelection(); });

    // The palette page, and the Fit button beside it.
    palette_ = addToolBar(kPage);
    palette_->setObjectName("Palette");
    palette_->setMovable(false);
    palette_->setIconSize(QSize(24, 24));
    palette_->addWidget(new QLabel(QString(" %1: ").arg(kPage)));
    for (const std::string& className : RegisteredComponents(kPage)) {
        auto* button = new QToolButton(palette_);
        button->setObjectName(Q("Palette_" + className));
        QString upper = Q(className).toUpper();
        button->setIcon(QIcon(QPixmap::fromImage(PaletteBitmap(upper.toStdString()))));
        button->setToolTip(Q(className));
        connect(button, &QToolButton::clicked, this,
                [this, className] { Guarded([&] { AddComponent(className); }); });
        palette_->addWidget(button);
    }
    palette_->addSeparator();
    auto* fitButton = new QToolButton(palette_);
    fitButton->setObjectName("FitButton");
    fitButton->setDefaultAction(fit);
    fitButton->setToolButtonStyle(Qt::ToolButtonTextOnly);
    palette_->addWidget(fitButton);

    auto* splitter = new QSplitter(this);
    components_ = new QListWidget(splitter);
    components_->setObjectName("Components");
    components_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    connect(components_, &QListWidget::itemSelectionChanged, this, [this] { Inspect(); });
    inspector_ = new QTableWidget(0, 2, splitter);
    inspector_->setObjectName("Inspector");
    inspector_->setHorizontalHeaderLabels({"Property", "Value"});
    inspector_->horizontalHeader()->setStretchLastSection(true);
    inspector_->verticalHeader()->hide();
    inspector_->setSelectionMode(QAbstractItemView::NoSelection);
    inspector_->setColumnWidth(0, 150);
    splitter->setStretchFactor(1, 3);
    setCentralWidget(splitter);

    status_ = new TStatusLine(this);
    status_->setObjectName("Status");
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    statusBar()->addWidget(status_, 1);

    NewForm();
}

TDesignerWindow::~TDesignerWindow() = default;

QString TDesignerWindow::BaseDirectory() const {
    return fileName_.isEmpty() ? QDir::currentPath() : QFileInfo(fileName_).absolutePath();
}

bool TDesignerWindow::ConfirmDiscard() {
    if (!modified_) return true;
    const QString name =
        fileName_.isEmpty() ? QString("the new form") : QFileInfo(fileName_).fileName();
    switch (MessageDlg("Save the changes to " + name.toStdString() + "?",
                       TMsgDlgType::mtConfirmation, mbYes | mbNo | mbCancel, 0)) {
        case mrYes:
            if (!fileName_.isEmpty()) return Save();
            {
                const QString path = QFileDialog::getSaveFileName(
                    this, "Save the form file", BaseDirectory(), "Form files (*.dfm)");
                return !path.isEmpty() && SaveAs(path);
            }
        case mrNo:
            return true;
        default:
            return false;
    }
}

bool TDesignerWindow::NewForm() {
    if (!ConfirmDiscard()) return false;
    TFormContents form;
    form.rootName = "DataModule1";
    form.rootClass = "TDataModule";
    form.root = std::make_unique<TComponent>();
    form.root->SetName(form.rootName);
    SetForm(std::move(form), QString());
    return true;
}

bool TDesignerWindow::OpenFile(const QString& path) {
    if (!ConfirmDiscard()) return false;
    const std::string folder = QFileInfo(path).absolutePath().toStdString();
    try {
        TFormContents form =
            ReadForm(TAVClassRegistry(), ReadTextFile(path.toStdString()), [&](TComponent& c) {
                if (auto* ds = dynamic_cast<TDataSet*>(&c)) ds->SetBaseDirectory(folder);
            });
        SetForm(std::move(form), QFileInfo(path).absoluteFilePath());
        return true;
    } catch (const std::exception& e) {
        MessageDlg(path.toStdString() + ": " + ErrorMessage(e), TMsgDlgType::mtError, mbOK, 0);
        return false;
    }
}

bool TDesignerWindow::Save() {
    if (fileName_.isEmpty()) {
        const QString path = QFileDialog::getSaveFileName(this, "Save the form file",
                                                          BaseDirectory(), "Form files (*.dfm)");
        return !path.isEmpty() && SaveAs(path);
    }
    return SaveAs(fileName_);
}

bool TDesignerWindow::SaveAs(const QString& path) {
    try {
        std::vector<const TComponent*> parts(form_.components.begin(), form_.components.end());
        const std::string text =
            WriteForm(TAVClassRegistry(), form_.rootName, form_.rootClass, parts);
        // The whole file or nothing; through a link, into the file it names, with its mode.
        WriteFileWhole(path, QByteArray::fromStdString(text));
        fileName_ = QFileInfo(path).absoluteFilePath();
        SetModified(false);
        return true;
    } catch (const std::exception& e) {
        ShowError(e);
        return false;
    }
}

void TDesignerWindow::SetForm(TFormContents form, const QString& fileName) {
    form_ = std::move(form);
    fileName_ = fileName;
    status_->Show({});
    SetModified(false);
    ListComponents();
    // Opened with its first component selected, so that the inspector shows something.
    if (!form_.components.empty()) Select({Q(form_.components.front()->Name())});
}

void TDesignerWindow::SetModified(bool modified) {
    modified_ = modified;
    setWindowTitle("tavdesigner - " +
                   (fileName_.isEmpty() ? QString("Untitled") : QFileInfo(fileName_).fileName()) +
                   (modified_ ? " *" : ""));
}

void TDesignerWindow::AddComponent(const std::string& className) {
    const TClassInfo* cls = FindClass(className);
    if (!cls) throw Exception("Class " + className + " is not registered");
    // The class name without its T and the first free number: TAVTable1, TAVTable2, ...
    const std::string stem =
        className.size() > 1 && className[0] == 'T' ? className.substr(1) : className;
    std::string name;
    for (int k = 1;; ++k) {
        name = stem + IntToStr(k);
        if (std::none_of(form_.components.begin(), form_.components.end(),
                         [&](const TComponent* c) { return c->Name() == name; }))
            break;
    }
    TComponent* c = cls->create(form_.root.get()).release();  // the root owns it
    c->SetName(name);
    if (auto* ds = dynamic_cast<TDataSet*>(c)) ds->SetBaseDirectory(BaseDirectory().toStdString());
    form_.components.push_back(c);
    SetModified(true);
    ListComponents();
    Select({Q(name)});
}

void TDesignerWindow::DeleteSelection() {
    const std::vector<TComponent*> selected = Selection();
    if (selected.empty()) return;
    for (TComponent* c : selected) {
        form_.components.erase(std::find(form_.components.begin(), form_.components.end(), c));
        delete c;  // leaves its owner's list
    }
    SetModified(true);
    ListComponents();
}

void TDesignerWindow::Fit() {
    TDataSet* ds = nullptr;
    TTAVRegression* reg = nullptr;
    for (TComponent* c : Selection()) {
        std::tie(ds, reg) = Regression(c);
        if (reg) break;
    }
    if (!reg) throw Exception("Select a regression component to fit");
    // The dataset is left as it was found: fitting does not change what the form file says.
    const bool wasActive = ds->Active();
    struct TRestore {
        TDataSet* ds;
        bool wasActive;
        ~TRestore() {
            if (!wasActive) ds->Close();
        }
    } restore{ds, wasActive};
    if (!wasActive) ds->Open();
    reg->ReLoad();
    status_->Show(Q(ds->Name() + ": " + reg->LoadSummary()));
    if (!reg->ValuesLoaded()) return;
    reg->Execute();
    reg->Output();
}

void TDesignerWindow::Select(const QStringList& names) {
    components_->clearSelection();
    for (int i = 0; i < components_->count(); ++i) {
        QListWidgetItem* item = components_->item(i);
        if (names.contains(item->data(Qt::UserRole).toString())) item->setSelected(true);
    }
    Inspect();
}

std::vector<TComponent*> TDesignerWindow::Selection() const {
    std::vector<TComponent*> selected;
    for (int i = 0; i < components_->count(); ++i)
        if (components_->item(i)->isSelected())
            selected.push_back(form_.components[static_cast<std::size_t>(i)]);
    return selected;
}

void TDesignerWindow::ListComponents() {
    const QSignalBlocker block(components_);
    components_->clear();
    for (const TComponent* c : form_.components) {
        auto* item = new QListWidgetItem(Q(c->Name() + ": " + c->ClassName()), components_);
        item->setData(Qt::UserRole, Q(c->Name()));
        const QImage bitmap = PaletteBitmap(Q(c->ClassName()).toUpper().toStdString());
        if (!bitmap.isNull()) item->setIcon(QIcon(QPixmap::fromImage(bitmap)));
    }
    Inspect();
}

// The properties every selected component has; the values shown are the first one's.
void TDesignerWindow::Inspect() {
    // The view deletes the old editors later; until then they must not pass for the new ones.
    for (int row = 0; row < inspector_->rowCount(); ++row)
        if (QWidget* cell = inspector_->cellWidget(row, 1)) {
            cell->setObjectName(QString());
            for (QObject* child : cell->findChildren<QObject*>()) child->setObjectName(QString());
        }
    inspector_->setRowCount(0);
    const std::vector<TComponent*> selection = Selection();
    if (selection.empty()) return;
    const TClassInfo* first = ClassOf(*selection.front());
    if (!first) return;
    for (const TPropertyInfo& property : first->properties) {
        const bool shared = std::all_of(selection.begin(), selection.end(), [&](TComponent* c) {
            const TClassInfo* cls = ClassOf(*c);
            const TPropertyInfo* p = cls ? cls->FindProperty(property.name) : nullptr;
            return p && p->typeName == property.typeName;
        });
        if (!shared) continue;
        const int row = inspector_->rowCount();
        inspector_->insertRow(row);
        InspectRow(row, property, selection);
    }
}

void TDesignerWindow::InspectRow(int row, const TPropertyInfo& property,
                                 const std::vector<TComponent*>& selection) {
    auto* name = new QTableWidgetItem(Q(property.name));
    name->setFlags(Qt::ItemIsEnabled);
    inspector_->setItem(row, 0, name);
    const TPropertyValue value = property.read(*selection.front());
    const QString objectName = Q("Value_" + property.name);
    QWidget* cell = nullptr;
    if (const auto editor = GetPropertyEditor(selection, property.name);
        editor && Has(editor->GetAttributes(), TPropertyAttribute::paDialog)) {
        // Edited in its dialog: the ellipsis button calls EditProperty.
        cell = new QWidget;
        auto* layout = new QHBoxLayout(cell);
        layout->setContentsMargins(4, 0, 0, 0);
        // The editor's own value text, and the term the definition gives, for the reader.
        auto* text = new QLabel(
            Q(editor->GetValue()) + "  <span style='color:gray'>" +
            Q(Term(property.typeName, std::get<TStringList>(value))).toHtmlEscaped() + "</span>");
        text->setToolTip(Text(std::get<TStringList>(value)));
        layout->addWidget(text, 1);
        auto* ellipsis = new QToolButton;
        ellipsis->setObjectName(Q("Edit_" + property.name));
        ellipsis->setText("...");
        const std::string propertyName = property.name;
        connect(ellipsis, &QToolButton::clicked, this,
                [this, propertyName] { Guarded([&] { EditInDialog(propertyName); }); });
        layout->addWidget(ellipsis);
    } else {
        switch (property.kind) {
            case TPropertyKind::String: {
                auto* edit = new QLineEdit(Q(std::get<std::string>(value)));
                connect(edit, &QLineEdit::editingFinished, this, [=, this, &property] {
                    const std::string text = edit->text().toStdString();
                    if (text != std::get<std::string>(value)) Write(property, text, selection);
                });
                cell = edit;
                break;
            }
            case TPropertyKind::Boolean: {
                auto* box = new QCheckBox;
                box->setChecked(std::get<bool>(value));
                connect(box, &QCheckBox::clicked, this, [=, this, &property](bool checked) {
                    Write(property, checked, selection);
                });
                cell = box;
                break;
            }
            case TPropertyKind::Enumeration: {
                auto* box = new QComboBox;
                for (const auto& id : property.identifiers) box->addItem(Q(id));
                box->setCurrentText(Q(std::get<std::string>(value)));
                connect(box, &QComboBox::activated, this, [=, this, &property] {
                    Write(property, box->currentText().toStdString(), selection);
                });
                cell = box;
                break;
            }
            case TPropertyKind::Integer: {
                auto* box = new QSpinBox;
                box->setRange(static_cast<int>(property.minValue),
                              static_cast<int>(property.maxValue));
                box->setValue(static_cast<int>(std::get<std::int64_t>(value)));
                connect(box, &QSpinBox::editingFinished, this, [=, this, &property] {
                    const std::int64_t number = box->value();
                    if (number != std::get<std::int64_t>(value)) Write(property, number, selection);
                });
                cell = box;
                break;
            }
            case TPropertyKind::Strings: {
                auto* edit = new TLinesEdit(Text(std::get<TStringList>(value)));
                edit->onCommit = [=, this, &property] {
                    const TStringList lines = Lines(edit->toPlainText());
                    if (!(lines == std::get<TStringList>(value))) Write(property, lines, selection);
                };
                inspector_->setRowHeight(row, 52);
                cell = edit;
                break;
            }
        }
    }
    cell->setObjectName(objectName);
    inspector_->setCellWidget(row, 1, cell);
}

void TDesignerWindow::Write(const TPropertyInfo& property, const TPropertyValue& value,
                            const std::vector<TComponent*>& selection) {
    // An editor that finishes after the selection moved on (it loses the focus as the inspector
    // is rebuilt) no longer speaks for the components shown.
    if (selection != Selection()) return;
    for (TComponent* c : selection) {
        try {
            property.write(*c, value);
            SetModified(true);
        } catch (const std::exception& e) {
            MessageDlg(c->Name() + "." + property.name + ": " + ErrorMessage(e),
                       TMsgDlgType::mtError, mbOK, 0);
        }
    }
    // Shown again, whatever was taken: a refused value goes back to the stored one. Later, so
    // that the editor that asked is not deleted under its own signal.
    QMetaObject::invokeMethod(
        this, [this] { Inspect(); }, Qt::QueuedConnection);
}

void TDesignerWindow::EditInDialog(const std::string& propertyName) {
    const std::vector<TComponent*> selection = Selection();
    const TPropertyInfo* property = ClassOf(*selection.front())->FindProperty(propertyName);
    const TPropertyValue before = property->read(*selection.front());
    EditProperty(selection, propertyName);
    if (!(std::get<TStringList>(property->read(*selection.front())) ==
          std::get<TStringList>(before)))
        SetModified(true);
    QMetaObject::invokeMethod(
        this, [this] { Inspect(); }, Qt::QueuedConnection);
}

void TDesignerWindow::closeEvent(QCloseEvent* event) {
    if (ConfirmDiscard())
        event->accept();
    else
        event->ignore();
}

}  // namespace tav
