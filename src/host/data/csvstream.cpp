// The records of a CSV file read one at a time, without the table an import makes of them.
#include <QString>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/data/csvreader.h"
#include "host/data/dbconnection.h"
#include "tav/csvtable.h"

namespace tav {

namespace {

using csv::TCsvValue;

// A text as a dataset hands it on: through a QString, which replaces what is not UTF-8.
std::string DatasetText(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))
                .toStdString();
    return std::string(text);
}

// The records of a CSV file behind the fields of its columns, read in one pass where the file
// allows. A column's type is the one its every cell gives it, known only at the file's end: the
// stream takes it from the first kGuess records and reads on with it, scanning each record's cells
// as it goes. The first record that would give a column another type ends the pass before any
// field sees it: the rest of the file is scanned, and the stream starts again from the first
// record with the types the whole file gives (Reread). A cell is read from the record's text when
// a field first asks for it, and kept for the record's other questions: a whole-table fit reads a
// few columns of many.
//
// A stream may split the rest of the file at a line end near its middle: the part after it is a
// stream of its own, read on another thread from there, while this one reads on to where the
// part begins. Whether a record begins there is known only to this reading (a line end may be
// inside quotes): if this stream's records step over it, or the part met an error or a cell
// that the types guessed do not allow, the part counts for nothing and this stream reads its
// records itself.
class TCsvStream final : public TRecordStream, public TFieldSource {
  public:
    static constexpr int64_t kGuess = 4096;
    // The least text a split leaves to each part: a thread's start is nothing beside it.
    static constexpr int64_t kLeastPart = 1 << 19;

    TCsvStream(const std::string& path, int timeoutSeconds)
        : input_(std::make_shared<csv::TCsvInput>(path, timeoutSeconds)) {
        const std::unique_ptr<csv::TCsvText> first = input_->Reading();
        csv::TCsvRecords records(*first, path);
        shape_ = {records.Separator(), records.Names(), records.RowNames(), {}, 0};
        shape_.scans.resize(shape_.names.size());
        while (shape_.rows < kGuess && records.Next()) shape_.Add(records);
        typed_ = shape_.rows < kGuess || !records.Next();
        if (typed_) csv::SettleTypes(shape_.scans, shape_.rowNames);
        guess_ = shape_.scans;
        Make();
        Start();
    }

    // The part of `whole`'s file that `text` holds, read with the types `whole` reads with.
    TCsvStream(const TCsvStream& whole, std::unique_ptr<csv::TCsvText> text)
        : input_(whole.input_),
          shape_(whole.shape_),
          guess_(whole.guess_),
          typed_(whole.typed_),
          part_(true),
          partEnd_(std::make_shared<TPartEnd>()) {
        if (!typed_) shape_.scans = guess_;
        Make();
        text_ = std::move(text);
        records_.emplace(*text_, input_->Path(), *whole.records_);
    }

    const TFieldSource& Fields() const override { return *this; }
    int64_t Count() const override { return typed_ ? shape_.rows : -1; }
    bool Reread() override { return std::exchange(reread_, false); }

    std::unique_ptr<TRecordStream> Split() override {
        if (part_ || splitAt_ != 0 || ended_ || reread_) return nullptr;
        const int64_t from = records_->End(), size = input_->Size();
        if (size - from < 2 * kLeastPart) return nullptr;
        // The part begins past the first line end from the middle on.
        std::unique_ptr<csv::TCsvText> text = input_->Reading(from + (size - from) / 2);
        const std::size_t end = text->View().find('\n');
        if (end == std::string_view::npos) return nullptr;
        text->More(end + 1);
        const int64_t at = text->Offset();
        if (size - at < kLeastPart) return nullptr;
        auto part = std::make_unique<TCsvStream>(*this, std::move(text));
        splitAt_ = at;
        partEnd_ = part->partEnd_;
        return part;
    }

    bool TakeSplitPart(bool partRead) override {
        const bool stopped = splitAt_ > 0 && !ended_ && !reread_ && records_->End() == splitAt_;
        splitAt_ = 0;
        const std::shared_ptr<const TPartEnd> part = std::exchange(partEnd_, nullptr);
        if (!stopped || !partRead || !part || !part->ended) return false;
        if (typed_) {
            if (recNo_ + part->records != shape_.rows) throw csv::ChangedError(input_->Path(), 0);
        } else {
            // The types the two parts' cells give together.
            std::vector<csv::TColumnScan> scans = shape_.scans;
            for (std::size_t c = 0; c < scans.size(); ++c) scans[c].Merge(part->scans[c]);
            if (!AsGuessed(scans)) return false;
        }
        ended_ = true;
        return true;
    }

    bool Next() override {
        ++position_;
        onRecord_ = false;  // until the record is read whole: its fields see into the text
        if (ended_ || reread_) return false;
        if (splitAt_ > 0 && records_->End() == splitAt_) return false;
        if (!records_->Next()) {
            ended_ = true;
            if (part_) {
                partEnd_->scans = shape_.scans;
                partEnd_->records = recNo_;
                partEnd_->ended = true;
            } else if (typed_ && recNo_ != shape_.rows) {
                throw csv::ChangedError(input_->Path(), 0);
            }
            return false;
        }
        ++recNo_;
        if (typed_) {
            if (!part_ && recNo_ > shape_.rows) throw csv::ChangedError(input_->Path(), 0);
        } else {
            if (shape_.Add(*records_) && !AsGuessed(shape_.scans)) {
                if (part_) {
                    // Not read on: the stream it came from reads the part again.
                    ended_ = reread_ = true;
                    return false;
                }
                // The rest of the file scanned, the records are read again with its types.
                while (records_->Next()) shape_.Add(*records_);
                csv::SettleTypes(shape_.scans, shape_.rowNames);
                typed_ = true;
                retired_.insert(retired_.end(), std::make_move_iterator(fields_.begin()),
                                std::make_move_iterator(fields_.end()));
                fields_.clear();
                MakeFields();
                Start();
                reread_ = true;
                return false;
            }
        }
        onRecord_ = true;
        return true;
    }

    TField* FieldByName(const std::string& name) const override {
        if (TField* field = FindFieldIn(fields_, name)) return field;
        RaiseFieldNotFound("", name);
    }

    void PeekCells(const int* columns, int count, TCell* cells) const override {
        for (int k = 0; k < count; ++k) {
            TCell& out = cells[k];
            if (!onRecord_) {
                out = TCell();
                continue;
            }
            const TStreamCell& c = Cell(columns[k]);
            out.state = c.state;
            out.isNumber = c.isNumber;
            if (c.isNumber) out.number = c.number;
            out.converted = c.isNumber;
        }
    }

  protected:
    bool FieldIsNull(const TField& field) const override {
        return Cell(field.Index()).state == TField::TState::Null;
    }
    bool FieldIsBlank(const TField& field) const override {
        return Cell(field.Index()).state == TField::TState::Blank;
    }
    TField::TState FieldState(const TField& field) const override {
        return Cell(field.Index()).state;
    }
    TField::TState FieldPeek(const TField& field, double& number, bool& isNumber) const override {
        const TStreamCell& c = Cell(field.Index());
        isNumber = c.isNumber;
        if (c.isNumber) number = c.number;
        return c.state;
    }
    double FieldAsFloat(const TField& field) const override {
        const TStreamCell& c = Cell(field.Index());
        if (c.state == TField::TState::Null) return 0.0;
        if (c.isNumber) return c.number;
        return FieldTextToFloat(field, DatasetText(c.text), recNo_);
    }
    std::string FieldAsString(const TField& field) const override {
        const TStreamCell& c = Cell(field.Index());
        if (c.state == TField::TState::Null) return {};
        if (!c.isNumber) return DatasetText(c.text);
        return c.whole ? IntToStr(*c.whole) : FloatToStr(c.number);
    }

  private:
    // What a part tells the stream it came from once it has read its last record.
    struct TPartEnd {
        bool ended = false;
        int64_t records = 0;
        std::vector<csv::TColumnScan> scans;
    };

    void Make() {
        const std::size_t columns = shape_.names.size();
        cells_.resize(columns);
        types_.resize(columns);
        marks_.resize(columns);
        MakeFields();
    }
    // The fields of the columns' types: the scan's, settled or guessed from the records so far.
    void MakeFields() {
        for (std::size_t c = 0; c < shape_.names.size(); ++c) {
            types_[c] = csv::SettledType(shape_.scans[c], c, shape_.rowNames);
            marks_[c] = shape_.Mark(c);
            const std::string type = csv::SqlType(types_[c]);
            fields_.push_back(MakeField(FieldClassForType(type, TFieldClass::String), this,
                                        shape_.names[c], static_cast<int>(c), type));
        }
    }
    // A reading from the first record; without the settled types, a new scan of every cell.
    void Start() {
        records_.reset();
        text_ = input_->Reading();
        records_.emplace(*text_, input_->Path());
        shape_.CheckHeader(*records_, input_->Path());
        // The cells scanned from the guess on: those of the first records change no type.
        if (!typed_) {
            shape_.rows = 0;
            shape_.scans = guess_;
        }
        recNo_ = 0;
        ended_ = false;
        splitAt_ = 0;
        partEnd_.reset();
    }
    // Whether the cells of `scans` give every column the type it is read with.
    bool AsGuessed(const std::vector<csv::TColumnScan>& scans) const {
        for (std::size_t c = 0; c < types_.size(); ++c) {
            const TCsvType type = csv::SettledType(scans[c], c, shape_.rowNames);
            if (type != types_[c] || (type == TCsvType::Real && scans[c].Mark() != marks_[c]))
                return false;
        }
        return true;
    }

    // A cell of the current record as the table's dataset reads it.
    struct TStreamCell {
        int64_t position = -1;  // of the record it was read in
        TField::TState state = TField::TState::Null;
        bool isNumber = false;
        double number = 0;
        std::optional<int64_t> whole;  // an INTEGER column's value
        std::string_view text;         // a text, into the record
    };

    const TStreamCell& Cell(int column) const {
        TStreamCell& c = cells_.at(static_cast<std::size_t>(column));
        if (c.position != position_) Read(column, c);
        return c;
    }

    void Read(int column, TStreamCell& c) const {
        c.position = position_;
        c.state = TField::TState::Null;
        c.isNumber = false;
        c.whole.reset();
        if (!onRecord_) return;
        const std::size_t k = static_cast<std::size_t>(column);
        TCsvValue value;
        if (!csv::ReadValue(records_->Field(k), types_[k], marks_[k], value))
            throw csv::ChangedError(input_->Path(), records_->Line());
        switch (value.kind) {
            case TCsvValue::kNull:
                return;
            case TCsvValue::kInteger:
                c.whole = value.whole;
                c.number = static_cast<double>(value.whole);
                break;
            case TCsvValue::kReal:
                // The table keeps no negative zero: SQLite stores a whole REAL as an integer.
                c.number = value.real + 0.0;
                break;
            case TCsvValue::kText:
                c.state = IsBlankText(value.text) ? TField::TState::Blank : TField::TState::Value;
                c.text = value.text;
                return;
        }
        c.state = TField::TState::Value;
        c.isNumber = true;
    }

    std::shared_ptr<const csv::TCsvInput> input_;  // a part's and its stream's
    csv::TCsvShape shape_;
    std::vector<csv::TColumnScan> guess_;  // the scans of the first kGuess records
    std::unique_ptr<csv::TCsvText> text_;
    std::optional<csv::TCsvRecords> records_;  // reads text_
    std::vector<TCsvType> types_;
    std::vector<char> marks_;
    std::vector<std::unique_ptr<TField>> fields_;
    std::vector<std::unique_ptr<TField>> retired_;  // the fields of the guessed types
    mutable std::vector<TStreamCell> cells_;
    int64_t position_ = 0;  // the calls of Next so far
    int64_t recNo_ = 0;     // the current record, from 1
    bool onRecord_ = false;
    bool ended_ = false;
    bool typed_ = false;   // the columns' types are the whole file's
    bool reread_ = false;  // the pass just ended must be read again
    bool part_ = false;    // a part split off another stream
    int64_t splitAt_ = 0;  // where the part split off begins, if a record begins there
    std::shared_ptr<TPartEnd> partEnd_;  // a part's own, or the part's split off
};

}  // namespace

std::unique_ptr<TRecordStream> OpenCsvStream(const std::string& path, int timeoutSeconds) {
    return std::make_unique<TCsvStream>(path, timeoutSeconds);
}

}  // namespace tav
