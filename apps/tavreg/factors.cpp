#include "factors.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <functional>

#include "tav/csvtable.h"
#include "tav/db.h"

namespace tavreg {

namespace {

std::string Literal(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    return quoted + "'";
}

// The records the definition reads: the user's query (without a closing semicolon), or the table.
std::string BaseQuery(const TOptions& o) {
    if (o.sql.empty())
        return "SELECT * FROM " +
               tav::QuoteIdentifier(o.table.empty() ? tav::CsvTableName(o.csv) : o.table);
    std::string sql = o.sql;
    while (!sql.empty() &&
           (std::isspace(static_cast<unsigned char>(sql.back())) || sql.back() == ';'))
        sql.pop_back();
    return sql;
}

// A query over the definition's database, under its bound.
void Run(const TOptions& o, const std::string& sql, const std::function<void(tav::TQuery&)>& read) {
    tav::TQuery q;
    q.SetDatabaseName(o.csv.empty() ? o.db : o.csv);
    if (o.timeout) q.SetQueryTimeout(*o.timeout);
    q.SetSQLText(sql);
    q.Open();
    read(q);
    q.Close();
}

// Whether a value is missing, as the load sees it: null or a text of blanks (or the negation).
// Such a record has no level; its indicators are null, and the load skips it.
std::string Missing(const std::string& column, bool missing) {
    const std::string blank = "TRIM(CAST(" + column + " AS TEXT)) = ''";
    return missing ? "(" + column + " IS NULL OR " + blank + ")"
                   : column + " IS NOT NULL AND NOT " + blank;
}

bool Number(const std::string& text, double& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

// A level as R labels it: a number as as.character prints it (15 significant digits), a text as
// it is.
std::string Label(const std::string& level, bool numbers) {
    double value = 0;
    if (!numbers || !Number(level, value)) return level;
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", value);
    return text;
}

struct TLevels {
    std::vector<std::string> texts;  // as the database casts them to text, in R's order
    bool numbers = true;             // every level a number: sorted by value, as R's factor()
};

TLevels Levels(const TOptions& o, const std::string& base, const std::string& field) {
    const std::string column = tav::QuoteIdentifier(field);
    TLevels levels;
    Run(o,
        "SELECT DISTINCT CAST(" + column + " AS TEXT) AS level FROM (" + base +
            ") AS tav_levels WHERE " + Missing(column, false),
        [&](tav::TQuery& q) {
            for (; !q.Eof(); q.Next()) levels.texts.push_back(q.FieldByName("level")->AsString());
        });
    double a = 0, b = 0;
    for (const std::string& level : levels.texts)
        levels.numbers = levels.numbers && Number(level, a);
    if (levels.numbers)
        std::sort(levels.texts.begin(), levels.texts.end(),
                  [&](const std::string& x, const std::string& y) {
                      return Number(x, a) && Number(y, b) && a < b;
                  });
    else
        std::sort(levels.texts.begin(), levels.texts.end());
    return levels;
}

}  // namespace

bool HasFactors(const TOptions& o) {
    return std::any_of(o.factors.begin(), o.factors.end(),
                       [](const std::string& f) { return !f.empty(); });
}

void ExpandFactors(const TOptions& o, tav::TTAVQuery& query) {
    const std::string base = BaseQuery(o);
    // The fields of the records: a factor's must be one (SQLite would read a missing name in
    // double quotes as a text), and an indicator may not take the name of one (the fit would
    // read that).
    std::vector<std::string> fields;
    Run(o, "SELECT * FROM (" + base + ") AS tav_fields LIMIT 0", [&](tav::TQuery& q) {
        for (int k = 0; k < q.FieldCount(); ++k) fields.push_back(q.Fields(k)->FieldName());
    });
    // The field's name as the database spells it (the load finds fields without regard to case;
    // PostgreSQL folds unquoted names to lower case).
    auto spelled = [&](const std::string& name) -> const std::string* {
        for (const std::string& f : fields)
            if (tav::SameFieldName(f, name)) return &f;
        return nullptr;
    };
    auto has = [&](const std::string& name) { return spelled(name) != nullptr; };
    std::vector<tav::TIndepVar> controls;
    std::string columns;
    for (std::size_t k = 0; k < o.factors.size(); ++k) {
        const std::string& field = o.factors[k];
        if (field.empty()) {
            controls.push_back(o.controls[k]);
            continue;
        }
        const std::string term = "Factor(" + field + ")";
        if (!has(field)) throw tav::Exception(term + ": Field '" + field + "' not found");
        TLevels levels;
        try {
            levels = Levels(o, base, *spelled(field));
        } catch (const std::exception& e) {
            throw tav::Exception(term + ": " + tav::ErrorMessage(e));
        }
        if (levels.texts.size() < 2)
            throw tav::Exception(term + ": the field has " + std::to_string(levels.texts.size()) +
                                 " level" + (levels.texts.size() == 1 ? "" : "s") +
                                 " in the records; a factor needs two at least");
        const std::string column = tav::QuoteIdentifier(*spelled(field));
        for (std::size_t l = 1; l < levels.texts.size(); ++l) {
            const std::string name = field + Label(levels.texts[l], levels.numbers);
            if (has(name))
                throw tav::Exception(term + ": its indicator " + name +
                                     " would have the name of a field of the data");
            columns += ", CASE WHEN " + Missing(column, true) + " THEN NULL WHEN CAST(" + column +
                       " AS TEXT) = " + Literal(levels.texts[l]) + " THEN 1 ELSE 0 END AS " +
                       tav::QuoteIdentifier(name);
            tav::TIndepVar indicator;
            indicator.SetTransformation("None");
            indicator.SetField1(name);
            controls.push_back(indicator);
        }
        if (const std::size_t count = controls.size() + (o.factors.size() - k - 1); count > 10)
            throw tav::Exception(term + ": its " + std::to_string(levels.texts.size()) +
                                 " levels give " + std::to_string(levels.texts.size() - 1) +
                                 " indicators, which make at least " + std::to_string(count) +
                                 " control variables; a fit may have ten");
    }
    query.SetSQLText("SELECT *" + columns + " FROM (" + base + ") AS tav_factors");
    for (std::size_t k = 0; k < controls.size(); ++k)
        query.SetControl(static_cast<int>(k) + 1, controls[k]);
}

}  // namespace tavreg
