// Registration and the property editors of the variable properties, through EditProperty as the
// object inspector calls it.
#include <gtest/gtest.h>

#include <QRadioButton>

#include "support/tav_test_support.h"
#include "support/tav_ui_support.h"
#include "tav/designintf.h"
#include "tav/tav32reg.h"
#include "tav/tavclasses.h"
#include "tav/tavctrl.h"
#include "tav/taveditors.h"
#include "tav/tavquery.h"
#include "tav/tavtable.h"

using namespace tav;
using tavtest::Child;
using tavtest::Click;

namespace {

// NAME (text), AGE (integer), PRICE (real), BORN (date); and a table of texts only.
std::string People(tavtest::TTempDb& db) {
    return db.Exec(
        "CREATE TABLE people(NAME TEXT, AGE INTEGER, PRICE REAL, BORN DATE);"
        "INSERT INTO people VALUES ('a', 30, 1.5, '1990-01-01'), ('b', 41, 2.5, '1980-02-02'),"
        " ('c', 25, 1.0, '1999-03-03'), ('d', 37, 4.0, '1985-04-04');"
        "CREATE TABLE words(A TEXT, B VARCHAR(10));");
}

std::vector<std::string> Items(const QComboBox* box) {
    std::vector<std::string> items;
    for (int i = 0; i < box->count(); ++i) items.push_back(box->itemText(i).toStdString());
    return items;
}

// A table class of a host program with one more variable property.
class TMyTable : public TTAVTable {
  public:
    using TTAVTable::TTAVTable;
    const char* ClassName() const override { return "TMyTable"; }
    TIndepVar extra;
};

const TClassInfo& MyTableClass() {
    static const TClassInfo info = [] {
        TClassInfo my = *TAVClassRegistry().Find("TTAVTable");
        my.className = "TMyTable";
        my.parentClass = "TTAVTable";
        my.create = [](TComponent* owner) { return std::make_unique<TMyTable>(owner); };
        my.properties.push_back({"ExtraVar", TPropertyKind::Strings, "TIndepVar",
                                 [](const TComponent& c) {
                                     return TPropertyValue(
                                         TStringList(dynamic_cast<const TMyTable&>(c).extra));
                                 },
                                 [](TComponent&, const TPropertyValue&) {}});
        return my;
    }();
    return info;
}

class Editors : public ::testing::Test {
  protected:
    void SetUp() override {
        Register();
        RegisterClass(&MyTableClass());
    }
};

}  // namespace

TEST_F(Editors, RegisterFillsThePalettePageOnceWithItsPictures) {
    Register();
    EXPECT_EQ(RegisteredComponents("Brannock Statistics"),
              (std::vector<std::string>{"TTAVTable", "TTAVQuery"}));
    for (const char* name : {"TTAVTABLE", "TTAVQUERY"}) {
        const QImage bitmap = PaletteBitmap(name);
        EXPECT_EQ(bitmap.size(), QSize(24, 24)) << name;
        EXPECT_EQ(bitmap.format(), QImage::Format_Indexed8) << name;
        EXPECT_LE(bitmap.colorCount(), 256) << name;
    }
    EXPECT_NE(PaletteBitmap("TTAVTABLE"), PaletteBitmap("TTAVQUERY"));
    EXPECT_TRUE(PaletteBitmap("TTABLE").isNull());

    // The same attributes and value text for the four editors.
    TTAVTable table;
    TTAVQuery query;
    for (TComponent* c : std::initializer_list<TComponent*>{&table, &query})
        for (const char* property : {"ControlVar01", "ControlVar05", "ResponseVarY"}) {
            const auto editor = GetPropertyEditor({c}, property);
            ASSERT_NE(editor, nullptr) << c->ClassName() << property;
            EXPECT_EQ(editor->GetAttributes(),
                      TPropertyAttribute::paDialog | TPropertyAttribute::paMultiSelect);
            EXPECT_EQ(editor->GetValue(), property[0] == 'R' ? "(TDependentVar)" : "(TIndepVar)");
        }
    EXPECT_NE(
        dynamic_cast<TTAVQControlVarProperty*>(GetPropertyEditor({&query}, "ControlVar02").get()),
        nullptr);
    EXPECT_NE(
        dynamic_cast<TTAVTResponseVarProperty*>(GetPropertyEditor({&table}, "ResponseVarY").get()),
        nullptr);
    EXPECT_EQ(GetPropertyEditor({&table}, "Description"), nullptr);
    EXPECT_THROW(EditProperty({&table}, "Nothing"), Exception);
}

TEST_F(Editors, ATableOffersItsNumericFieldsAndCancelStillStores) {
    tavtest::TTempDb db;
    TTAVTable t;
    t.SetName("People");
    t.SetDatabaseName(People(db));
    t.SetTableName("people");
    t.SetControl3(tavtest::None("AGE"));
    t.SetResponse(tavtest::Response("PRICE"));
    t.Open();
    t.ReLoad();
    ASSERT_TRUE(t.ValuesLoaded());
    const TStringList before = *t.ControlVar03();
    int shown = 0;
    {
        tavtest::TModalDriver driver([&](QDialog* d) {
            ++shown;
            EXPECT_EQ(d->windowTitle(), "People Control Variable Definition");
            EXPECT_EQ(Items(Child<QComboBox>(*d, "cboxTableX")),
                      (std::vector<std::string>{"AGE", "PRICE"}));
            EXPECT_EQ(Tavctrl::PropertyName, "ControlVar03");
            EXPECT_EQ(Tavctrl::Parameters->Items(), before.Items());
            Click(Child<QWidget>(*d, "bbtnCancel"));
        });
        EditProperty({&t}, "ControlVar03");
    }
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(t.ControlVar03()->Items(), before.Items());
    EXPECT_FALSE(t.ValuesLoaded());

    // A closed table is opened for its field names and closed again.
    t.Close();
    tavtest::TModalDriver driver([&](QDialog* d) {
        ++shown;
        EXPECT_EQ(d->windowTitle(), "People Response Variable Definition");
    });
    EditProperty({&t}, "ResponseVarY");
    EXPECT_EQ(shown, 2);
    EXPECT_FALSE(t.Active());
}

TEST_F(Editors, ATableOfTextsSaysSoAndOpensNoDialog) {
    tavtest::TTempDb db;
    TTAVTable t;
    t.SetDatabaseName(People(db));
    t.SetTableName("words");
    bool shown = false;
    tavtest::TModalDriver driver([&](QDialog*) { shown = true; });
    tavtest::TMessageRecorder messages;
    EditProperty({&t}, "ControlVar01");
    EXPECT_FALSE(shown);
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Texts()[0], "No numeric fields found in words.");
    EXPECT_EQ(messages.Messages()[0].type, TMsgDlgType::mtError);
}

TEST_F(Editors, AQueryOffersTheOneEntryAndOnlyTheFirstSelectedIsEdited) {
    // No database at all: a query's fields are typed, never looked up.
    TTAVQuery first, second;
    first.SetName("First");
    for (const char* property : {"ControlVar02", "ResponseVarY"}) {
        tavtest::TModalDriver driver([&](QDialog* d) {
            EXPECT_EQ(Items(Child<QComboBox>(*d, "cboxTableX")), std::vector<std::string>{"..."});
            Click(Child<TRadioGroup>(*d, "RadioGroup1")->Button(1));
            tavtest::Type(Child<QWidget>(*d, "edStringX"), "TYPED");
            Click(Child<QWidget>(*d, "bbtnOK"));
        });
        EditProperty({&first, &second}, property);
    }
    EXPECT_EQ(first.ControlVar02()->Field1(), "TYPED");
    EXPECT_EQ(first.ControlVar02()->Transformation(), "None");
    EXPECT_EQ(first.ResponseVarY()->Transformation(), "Log");
    EXPECT_EQ(first.ResponseVarY()->FieldName(), "TYPED");
    EXPECT_EQ(second.ControlVar02()->Items(), TIndepVar().Items());
    EXPECT_EQ(second.ResponseVarY()->Items(), TDependentVar().Items());
}

TEST_F(Editors, ADerivedTableGetsTheTableEditorWhichStoresNothingForANameItDoesNotKnow) {
    tavtest::TTempDb db;
    TMyTable my;
    my.SetDatabaseName(People(db));
    my.SetTableName("people");
    my.extra.SetTransformation("Log");
    my.extra.SetField1("AGE");
    const auto editor = GetPropertyEditor({&my}, "ExtraVar");
    ASSERT_NE(dynamic_cast<TTAVTControlVarProperty*>(editor.get()), nullptr);
    tavtest::TModalDriver driver([&](QDialog* d) {
        // Opened on a default definition, not on the component's variable.
        EXPECT_EQ(Child<TRadioGroup>(*d, "RadioGroup1")->ItemIndex(), 0);
        Click(Child<TRadioGroup>(*d, "RadioGroup1")->Button(1));
        tavtest::Pick(Child<QComboBox>(*d, "cboxTableX"), "PRICE");
        Click(Child<QWidget>(*d, "bbtnOK"));
    });
    EditProperty({&my}, "ExtraVar");
    EXPECT_EQ(my.extra.Transformation(), "Log");
    for (int k = 1; k <= 10; ++k) EXPECT_EQ(my.ControlVar(k)->Items(), TIndepVar().Items()) << k;
}
