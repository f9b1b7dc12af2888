// The CSV reader on any bytes: a file is refused with ECsvError or read into a table whose every
// number cell converts, and which, written out again as R writes a table (texts and names quoted,
// numbers bare), reads back as the same table (names, types, missing cells and texts).
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "tav/csvtable.h"

namespace {

std::string Quoted(std::string_view text) {
    std::string q = "\"";
    for (const char c : text) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

std::string Written(const tav::TCsvTable& t) {
    const std::string separator(1, t.Separator());
    std::string out;
    // The column of row names goes back without a name, as it came.
    for (int c = 0; c < t.ColumnCount(); ++c)
        out += (c ? separator : "") + Quoted(c == 0 && t.RowNames() ? "" : t.ColumnName(c));
    out += "\n";
    for (int64_t r = 0; r < t.RowCount(); ++r) {
        for (int c = 0; c < t.ColumnCount(); ++c) {
            if (c) out += separator;
            // NA rather than nothing: a row of one missing cell would be an empty line, which
            // the reader passes over.
            // A decimal comma in a table of one column: without a separator in its header, the
            // file may read back with the other separator, which the comma would then be.
            const auto cell = t.Cell(r, c);
            const bool bare = t.ColumnType(c) != tav::TCsvType::Text &&
                              !(t.ColumnCount() == 1 && cell &&
                                cell->find_first_of(",;") != std::string_view::npos);
            out += !cell ? std::string("NA") : bare ? std::string(*cell) : Quoted(*cell);
        }
        out += "\n";
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    tav::TCsvTable table;
    try {
        table = tav::TCsvTable::Parse(text, "fuzz.csv");
    } catch (const tav::ECsvError&) {
        return 0;
    }
    for (int64_t r = 0; r < table.RowCount(); ++r)
        for (int c = 0; c < table.ColumnCount(); ++c) {
            if (!table.Cell(r, c)) continue;
            if (table.ColumnType(c) == tav::TCsvType::Integer) table.Integer(r, c);
            if (table.ColumnType(c) == tav::TCsvType::Real) table.Real(r, c);
        }
    const std::string again = Written(table);
    tav::TCsvTable back;
    try {
        back = tav::TCsvTable::Parse(again, "again.csv");
    } catch (const tav::ECsvError& e) {
        tavfuzz::Finding("a table written out again is refused: " + e.Message());
    }
    // A table of one column written out holds no separator, so it may read back with the other
    // one (and a number with a decimal comma then as text); a wider table must not.
    const bool sameSeparator = back.Separator() == table.Separator();
    if (back.ColumnCount() != table.ColumnCount() || back.RowCount() != table.RowCount() ||
        (!sameSeparator && table.ColumnCount() > 1))
        tavfuzz::Finding("a table written out again reads with another shape");
    for (int c = 0; c < table.ColumnCount(); ++c) {
        if (back.ColumnName(c) != table.ColumnName(c) ||
            (sameSeparator && back.ColumnType(c) != table.ColumnType(c)))
            tavfuzz::Finding("column " + std::to_string(c + 1) + " reads back otherwise");
        for (int64_t r = 0; r < table.RowCount(); ++r)
            if (back.Cell(r, c) != table.Cell(r, c))
                tavfuzz::Finding("cell " + std::to_string(r + 1) + "," + std::to_string(c + 1) +
                                 " reads back otherwise");
    }
    return 0;
}
