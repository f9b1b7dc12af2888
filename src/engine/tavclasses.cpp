#include "tav/tavclasses.h"

#include "tav/tavquery.h"
#include "tav/tavtable.h"

namespace tav {

TComponentKind ComponentKind(TComponent* component) {
    TComponentKind kind;
    if (auto* table = dynamic_cast<TTAVTable*>(component)) {
        kind.table = table;
        kind.dataSet = table;
        kind.regression = table;
    } else if (auto* query = dynamic_cast<TTAVQuery*>(component)) {
        kind.query = query;
        kind.dataSet = query;
        kind.regression = query;
    }
    return kind;
}

namespace {

template <typename C>
TPropertyInfo StringProp(const char* name, std::string (*get)(const C&),
                         void (*set)(C&, const std::string&)) {
    return {name, TPropertyKind::String, "string",
            [get](const TComponent& c) { return TPropertyValue(get(dynamic_cast<const C&>(c))); },
            [set](TComponent& c, const TPropertyValue& v) {
                set(dynamic_cast<C&>(c), std::get<std::string>(v));
            }};
}

template <typename C>
TPropertyInfo BoolProp(const char* name, bool (*get)(const C&), void (*set)(C&, bool),
                       bool deferred = false) {
    return {name,
            TPropertyKind::Boolean,
            "Boolean",
            [get](const TComponent& c) { return TPropertyValue(get(dynamic_cast<const C&>(c))); },
            [set](TComponent& c, const TPropertyValue& v) {
                set(dynamic_cast<C&>(c), std::get<bool>(v));
            },
            deferred};
}

template <typename C>
TPropertyInfo StringsProp(const char* name, const char* typeName, TStringList (*get)(const C&),
                          void (*set)(C&, const TStringList&)) {
    return {name, TPropertyKind::Strings, typeName,
            [get](const TComponent& c) { return TPropertyValue(get(dynamic_cast<const C&>(c))); },
            [set](TComponent& c, const TPropertyValue& v) {
                set(dynamic_cast<C&>(c), std::get<TStringList>(v));
            }};
}

// A variable property is checked when the file is read (its six entries, their codes), so that
// a malformed definition names its line instead of failing at the first load.
template <typename Var>
TPropertyInfo Checked(TPropertyInfo info) {
    info.check = [](const TPropertyValue& v) {
        return Var::DefinitionError(std::get<TStringList>(v));
    };
    return info;
}

// A control variable property: the stored list replaces the variable's entries.
template <typename C, int K>
TPropertyInfo ControlProp(const char* name) {
    return Checked<TIndepVar>(StringsProp<C>(
        name, "TIndepVar", [](const C& c) -> TStringList { return *c.ControlVar(K); },
        [](C& c, const TStringList& list) {
            TIndepVar v;
            v.Assign(list);
            c.SetControl(K, v);
        }));
}

// The properties the regression adds, in declared order.
template <typename C>
void AddRegressionProperties(std::vector<TPropertyInfo>& props) {
    props.push_back(ControlProp<C, 1>("ControlVar01"));
    props.push_back(ControlProp<C, 2>("ControlVar02"));
    props.push_back(ControlProp<C, 3>("ControlVar03"));
    props.push_back(ControlProp<C, 4>("ControlVar04"));
    props.push_back(ControlProp<C, 5>("ControlVar05"));
    props.push_back(StringProp<C>(
        "Description", [](const C& c) { return c.Description(); },
        [](C& c, const std::string& v) { c.SetDescription(v); }));
    props.push_back(BoolProp<C>(
        "ShowLoadProgress", [](const C& c) { return c.ShowLoadProgress(); },
        [](C& c, bool v) { c.SetShowLoadProgress(v); }));
    props.push_back(BoolProp<C>(
        "ShowWarnings", [](const C& c) { return c.ShowWarnings(); },
        [](C& c, bool v) { c.SetShowWarnings(v); }));
    props.push_back(Checked<TDependentVar>(StringsProp<C>(
        "ResponseVarY", "TDependentVar",
        [](const C& c) -> TStringList { return *c.ResponseVarY(); },
        [](C& c, const TStringList& list) {
            TDependentVar v;
            v.Assign(list);
            c.SetResponse(v);
        })));
    props.push_back(StringProp<C>(
        "ReportMessage", [](const C& c) { return c.ReportMessage(); },
        [](C& c, const std::string& v) { c.SetReportMessage(v); }));
    TPropertyInfo fitMethod{
        "FitMethod", TPropertyKind::Enumeration, "TFitMethod",
        [](const TComponent& c) {
            return TPropertyValue(
                std::string(FitMethodToStr(dynamic_cast<const C&>(c).FitMethod())));
        },
        [](TComponent& c, const TPropertyValue& v) {
            dynamic_cast<C&>(c).SetFitMethod(StrToFitMethod(std::get<std::string>(v)));
        }};
    for (const TFitMethod m : {TFitMethod::Auto, TFitMethod::NormalEquations, TFitMethod::QR})
        fitMethod.identifiers.push_back(FitMethodToStr(m));
    fitMethod.defaultValue = FitMethodToStr(TFitMethod::Auto);
    props.push_back(std::move(fitMethod));
    TPropertyInfo timeout{
        "QueryTimeout", TPropertyKind::Integer, "Integer",
        [](const TComponent& c) {
            return TPropertyValue(std::int64_t{dynamic_cast<const C&>(c).QueryTimeout()});
        },
        [](TComponent& c, const TPropertyValue& v) {
            dynamic_cast<C&>(c).SetQueryTimeout(static_cast<int>(std::get<std::int64_t>(v)));
        }};
    timeout.defaultValue = "0";
    timeout.minValue = 0;
    timeout.maxValue = TDataSet::kMaxQueryTimeout;
    props.push_back(std::move(timeout));
    TPropertyInfo idField = StringProp<C>(
        "IdField", [](const C& c) { return c.IdField(); },
        [](C& c, const std::string& v) { c.SetIdField(v); });
    idField.omitDefault = true;
    props.push_back(std::move(idField));
}

template <typename C>
TPropertyInfo DatabaseNameProp() {
    return StringProp<C>(
        "DatabaseName", [](const C& c) { return c.DatabaseName(); },
        [](C& c, const std::string& v) { c.SetDatabaseName(v); });
}

template <typename C>
TPropertyInfo ActiveProp() {
    return BoolProp<C>(
        "Active", [](const C& c) { return c.Active(); }, [](C& c, bool v) { c.SetActive(v); },
        /*deferred=*/true);
}

TClassRegistry Build() {
    TClassRegistry registry;

    TClassInfo table{"TTAVTable",
                     "TTable",
                     [](TComponent* owner) -> std::unique_ptr<TComponent> {
                         return std::make_unique<TTAVTable>(owner);
                     },
                     {}};
    table.properties.push_back(DatabaseNameProp<TTAVTable>());
    table.properties.push_back(StringProp<TTAVTable>(
        "TableName", [](const TTAVTable& c) { return c.TableName(); },
        [](TTAVTable& c, const std::string& v) { c.SetTableName(v); }));
    table.properties.push_back(ActiveProp<TTAVTable>());
    AddRegressionProperties<TTAVTable>(table.properties);
    registry.Register(std::move(table));

    TClassInfo query{"TTAVQuery",
                     "TQuery",
                     [](TComponent* owner) -> std::unique_ptr<TComponent> {
                         return std::make_unique<TTAVQuery>(owner);
                     },
                     {}};
    query.properties.push_back(DatabaseNameProp<TTAVQuery>());
    query.properties.push_back(StringsProp<TTAVQuery>(
        "SQL", "TStrings", [](const TTAVQuery& c) { return c.SQL(); },
        [](TTAVQuery& c, const TStringList& v) { c.SetSQL(v); }));
    query.properties.push_back(ActiveProp<TTAVQuery>());
    AddRegressionProperties<TTAVQuery>(query.properties);
    registry.Register(std::move(query));

    return registry;
}

}  // namespace

const TClassRegistry& TAVClassRegistry() {
    static const TClassRegistry registry = Build();
    return registry;
}

}  // namespace tav
