#include "tav/tavtypes.h"

#include <cmath>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tav/fields.h"
#include "tav/sysutils.h"

namespace tav {

using namespace std::string_view_literals;

namespace {

// The codes of the kinds a role knows, in the order of the table: "None, Log, Inverse or Scale".
std::string CodeList(TRole role) {
    std::vector<std::string_view> codes;
    for (const TTransformationKind& kind : TransformationKinds())
        if (kind.In(role)) codes.push_back(kind.code);
    std::string list;
    for (std::size_t k = 0; k < codes.size(); ++k)
        list += std::string(k == 0                  ? ""
                            : k + 1 == codes.size() ? " or "
                                                    : ", ") +
                std::string(codes[k]);
    return list;
}

std::string CountError(const TStringList& entries) {
    if (entries.Count() == 6) return "";
    return "6 entries expected, " + std::to_string(entries.Count()) + " found";
}

std::string TransformationError(const TStringList& entries, TRole role) {
    if (FindKind(entries[1], role) != nullptr) return "";
    return "transformation '" + entries[1] + "': " + CodeList(role) + " expected";
}

// The term of a variable whose entries are `v`, in the report's words.
std::string Term(const TStringList& v, TRole role) {
    const TTransformationKind* kind = FindKind(v[1], role);
    if (kind == nullptr) return "Disabled";
    const std::string_view pattern = role == TRole::Control ? kind->term : kind->responseTerm;
    return FillTerm(pattern, v[2], kind->fields == 2 ? v[3] : std::string(),
                    kind->parameter != nullptr ? v[kind->parameter->entry] : std::string());
}

std::string NotAKind(const std::string& code, TRole role) {
    return "'" + code + "' is not a valid transformation of " +
           (role == TRole::Response ? "a response variable" : "a control variable");
}

// Values given as numbers: a prediction's.
class TValueOperands final : public TOperands {
  public:
    TValueOperands(double x1, double x2, const TTransformationKind& kind, const TStringList& v)
        : x1_(x1), x2_(x2), kind_(kind), var_(v) {}
    double X1() override { return x1_; }
    double X2() override { return x2_; }
    double Parameter() override {
        if (!parsed_) parameter_ = StrToFloat(var_[kind_.parameter->entry]);
        parsed_ = true;
        return parameter_;
    }

  private:
    double x1_, x2_, parameter_ = 0;
    bool parsed_ = false;
    const TTransformationKind& kind_;
    const TStringList& var_;
};

}  // namespace

// ---------------------------------------------------------------- TIndepVar

TIndepVar::TIndepVar() {
    for (int i = 0; i < 6; ++i) Add("Undefined");
    SetField1("Datafield1");
    SetField2("Datafield2");
    SetTransformation("Undefined");
    SetUsage("Inactive");
    for (const TTransformationKind& kind : TransformationKinds())
        if (kind.parameter != nullptr)
            SetParameters(kind.parameter->entry, std::string(kind.parameter->controlDefault));
}

void TIndepVar::SetUsage(const std::string& value) {
    SetParameters(0, value);
    if (value == "Inactive"sv) SetTransformation("Undefined");
}

void TIndepVar::SetTransformation(const std::string& value) {
    SetParameters(1, value);
    if (value != "Undefined"sv) SetUsage("Active");
}

std::string TIndepVar::DefinitionError(const TStringList& entries) {
    if (std::string count = CountError(entries); !count.empty()) return count;
    const std::string& usage = entries[0];
    const std::string& transformation = entries[1];
    if (usage != "Active"sv && usage != "Inactive"sv)
        return "usage '" + usage + "': Active or Inactive expected";
    if (std::string error = TransformationError(entries, TRole::Control); !error.empty())
        return error;
    if (usage == "Inactive"sv && transformation != "Undefined"sv)
        return "usage Inactive with transformation " + transformation +
               ": an inactive variable's transformation is Undefined";
    return "";
}

TSkipReason TIndepVar::CheckRecord(const TFieldSource& ds) const {
    TRowReader reader;
    TPreparedVar prepared;
    prepared.Prepare(*this, ds, reader);
    reader.Read(ds);
    return prepared.Check();
}

double TIndepVar::Process(const TFieldSource& ds) const {
    TRowReader reader;
    TPreparedVar prepared;
    prepared.Prepare(*this, ds, reader);
    reader.Read(ds);
    return prepared.Process();
}

std::string TIndepVar::OutputTerm() const { return Term(*this, TRole::Control); }

double TIndepVar::ValueOf(double field1, double field2, TSkipReason& reason) const {
    const TTransformationKind* kind = Kind();
    const bool twoFields = kind != nullptr && kind->fields == 2;
    reason = TSkipReason::None;
    if (std::isnan(field1) || (twoFields && std::isnan(field2))) {
        reason = TSkipReason::NotFinite;
        return 0.0;
    }
    if (kind == nullptr || kind->value == nullptr)
        throw EConvertError(NotAKind(Transformation(), TRole::Control));
    TValueOperands in(field1, field2, *kind, *this);
    if (kind->parameter != nullptr) reason = kind->parameter->check(in.Parameter());
    if (reason == TSkipReason::None && kind->check != nullptr)
        reason = kind->check(in, TRole::Control);
    if (reason != TSkipReason::None) return 0.0;
    const double value =
        kind->value(field1, field2, kind->parameter != nullptr ? in.Parameter() : 0.0);
    if (!std::isfinite(value)) reason = TSkipReason::NotFinite;
    return value;
}

// ------------------------------------------------------------ TDependentVar

TDependentVar::TDependentVar() {
    for (int i = 0; i < 6; ++i) Add("Undefined");
    SetField("Datafield");
    SetTransformation("None");
    for (const TTransformationKind& kind : TransformationKinds())
        if (kind.parameter != nullptr && !kind.parameter->responseDefault.empty())
            SetParameters(kind.parameter->entry, std::string(kind.parameter->responseDefault));
}

std::string TDependentVar::DefinitionError(const TStringList& entries) {
    if (std::string count = CountError(entries); !count.empty()) return count;
    return TransformationError(entries, TRole::Response);
}

TSkipReason TDependentVar::CheckRecord(const TFieldSource& ds) const {
    TRowReader reader;
    TPreparedVar prepared;
    prepared.Prepare(*this, ds, reader);
    reader.Read(ds);
    return prepared.Check();
}

double TDependentVar::Process(const TFieldSource& ds) const {
    TRowReader reader;
    TPreparedVar prepared;
    prepared.Prepare(*this, ds, reader);
    reader.Read(ds);
    return prepared.Process();
}

std::string TDependentVar::OutputTerm() const { return Term(*this, TRole::Response); }

bool NumericField(const TField* field) {
    return dynamic_cast<const TFloatField*>(field) != nullptr ||
           dynamic_cast<const TIntegerField*>(field) != nullptr;
}

// ------------------------------------------------------------------------- TPreparedVar

// A record's values as the rules ask for them.
class TPreparedVar::TRecordOperands final : public TOperands {
  public:
    explicit TRecordOperands(const TPreparedVar& var) : var_(var) {}
    double X1() override { return Value(var_.field1_); }
    double X2() override { return Value(var_.field2_); }
    double Parameter() override { return Number(var_.parameter_); }

  private:
    const TPreparedVar& var_;
};

void TPreparedVar::Prepare(const TIndepVar& var, const TFieldSource& ds, TRowReader& reader) {
    Prepare(var, TRole::Control, ds, reader);
}

void TPreparedVar::Prepare(const TDependentVar& var, const TFieldSource& ds, TRowReader& reader) {
    Prepare(var, TRole::Response, ds, reader);
}

void TPreparedVar::Prepare(const TStringList& var, TRole role, const TFieldSource& ds,
                           TRowReader& reader) {
    field1_ = TSlot();
    field2_ = TSlot();
    parameter_ = TNumber();
    role_ = role;
    codeText_ = var[1];
    kind_ = FindKind(codeText_, role);
    plain_ = kind_ != nullptr && kind_->id == TTransformation::None;
    Resolve(field1_, ds, var[2], reader);
    if (kind_ != nullptr && kind_->fields == 2) Resolve(field2_, ds, var[3], reader);
    if (kind_ != nullptr && kind_->parameter != nullptr)
        Parse(parameter_, var[kind_->parameter->entry]);
}

void TPreparedVar::Resolve(TSlot& slot, const TFieldSource& ds, const std::string& name,
                           TRowReader& reader) {
    try {
        slot.field = ds.FieldByName(name);
        slot.cell = reader.Add(slot.field);
    } catch (...) {
        slot.error = std::current_exception();
        slot.failed = true;
    }
}

void TPreparedVar::Parse(TNumber& number, const std::string& text) {
    try {
        number.value = StrToFloat(text);
    } catch (...) {
        number.error = std::current_exception();
    }
}

double TPreparedVar::Number(const TNumber& number) {
    if (number.error) std::rethrow_exception(number.error);
    return number.value;
}

// A value read as a number is missing when its field is null or holds an empty or blank text
// (what importing a CSV file with empty cells stores).
TSkipReason TPreparedVar::Missing(const TSlot& slot) {
    if (slot.failed) std::rethrow_exception(slot.error);
    switch (slot.cell->state) {
        case TField::TState::Null:
            return TSkipReason::NullField;
        case TField::TState::Blank:
            return TSkipReason::EmptyText;
        case TField::TState::Value:
            break;
    }
    return TSkipReason::None;
}

// The field's value as a double (0 for a null); a text that is no number raises EConvertError
// the first time it is asked for.
double TPreparedVar::Value(const TSlot& slot) {
    if (slot.failed) std::rethrow_exception(slot.error);
    TCell& cell = *slot.cell;
    if (!cell.converted) {
        cell.number = cell.state == TField::TState::Null ? 0.0 : slot.field->AsFloat();
        cell.converted = true;
    }
    return cell.number;
}

TSkipReason TPreparedVar::CheckAny() {
    if (const TSkipReason missing = Missing(field1_); missing != TSkipReason::None) return missing;
    if (kind_ == nullptr) return TSkipReason::None;
    if (kind_->fields == 2)
        if (const TSkipReason missing = Missing(field2_); missing != TSkipReason::None)
            return missing;
    TRecordOperands in(*this);
    if (kind_->parameter != nullptr)
        if (const TSkipReason refused = kind_->parameter->check(in.Parameter());
            refused != TSkipReason::None)
            return refused;
    return kind_->check != nullptr ? kind_->check(in, role_) : TSkipReason::None;
}

double TPreparedVar::ProcessAny() {
    // "Undefined" takes no part in a regression; an unknown code is a broken definition, and
    // a made-up value would poison the whole fit.
    if (kind_ == nullptr || kind_->value == nullptr)
        throw EConvertError(NotAKind(codeText_, role_));
    const double x1 = Value(field1_);
    const double x2 = kind_->fields == 2 ? Value(field2_) : 0.0;
    return kind_->value(x1, x2, kind_->parameter != nullptr ? Number(parameter_) : 0.0);
}

// ------------------------------------------------------------------------- TRecordRules

void TRecordRules::Prepare(const TDependentVar& response, const TIndepVar* const* controls,
                           int count, const TFieldSource& source) {
    if (count < 0 || count > MaxTerms - 1)
        throw std::out_of_range("control variables: " + std::to_string(count));
    count_ = count;
    reader_.Clear();
    prepared_[0].Prepare(response, source, reader_);
    for (int k = 1; k <= count; ++k) prepared_[k].Prepare(*controls[k - 1], source, reader_);
}

TSkipReason TRecordRules::Evaluate(const TFieldSource& source, double* values, int& variable) {
    reader_.Read(source);
    for (int k = 1; k <= count_; ++k) {
        const TSkipReason reason = prepared_[k].Check();
        if (reason != TSkipReason::None) {
            variable = k;
            return reason;
        }
    }
    variable = 0;
    if (const TSkipReason reason = prepared_[0].Check(); reason != TSkipReason::None) return reason;
    for (int k = 0; k <= count_; ++k) values[k] = prepared_[k].Process();
    for (int k = 0; k <= count_; ++k) {
        if (!std::isfinite(values[k])) {
            variable = k;
            return TSkipReason::NotFinite;
        }
    }
    return TSkipReason::None;
}

}  // namespace tav
