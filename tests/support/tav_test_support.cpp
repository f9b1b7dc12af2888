#include "support/tav_test_support.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QCryptographicHash>
#include <QFile>
#include <algorithm>
#include <stdexcept>

namespace tavtest {

tav::TIndepVar Control(const std::string& transformation, const std::string& field,
                       const std::string& field2) {
    tav::TIndepVar v;
    v.SetTransformation(transformation);
    v.SetField1(field);
    if (!field2.empty()) v.SetField2(field2);
    return v;
}

tav::TDependentVar Response(const std::string& field, const std::string& transformation) {
    tav::TDependentVar r;
    r.SetField(field);
    r.SetTransformation(transformation);
    return r;
}

std::string ErrorOf(const std::function<void()>& run) {
    try {
        run();
    } catch (const tav::Exception& e) {
        return e.what();
    }
    return {};
}

QByteArray Digest(const QString& path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

TTempDb::TTempDb() {
    if (!dir_.isValid()) throw std::runtime_error("cannot create a temporary folder");
}

std::string TTempDb::Path(const std::string& name) const {
    return dir_.filePath(QString::fromStdString(name)).toStdString();
}

std::string TTempDb::Exec(const std::string& sql, const std::string& name) {
    const std::string path = Path(name);
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("cannot open db");
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    std::string message = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    if (rc != SQLITE_OK) throw std::runtime_error("SQL failed: " + message);
    return path;
}

TMessageRecorder::TMessageRecorder() {
    previous_ = tav::SetMessageDlgHook(
        [this](const std::string& text, tav::TMsgDlgType type, tav::TMsgDlgButtons buttons) {
            messages_.push_back({text, type, buttons});
            return static_cast<uint16_t>(tav::mrOk);
        });
}

TMessageRecorder::~TMessageRecorder() { tav::SetMessageDlgHook(previous_); }

std::vector<std::string> TMessageRecorder::Texts() const {
    std::vector<std::string> texts;
    for (const auto& m : messages_) texts.push_back(m.text);
    return texts;
}

TGaugeRecorder::TGaugeRecorder() {
    previous_ = tav::SetGaugeObserver([this](const tav::TLoadProgress& dlg, bool freed) {
        if (freed)
            ++freed_;
        else
            steps_.push_back({dlg.GaugeProgress(), dlg.GaugeText(), dlg.Visible()});
    });
}

TGaugeRecorder::~TGaugeRecorder() { tav::SetGaugeObserver(previous_); }

bool TGaugeRecorder::EverVisible() const {
    return std::any_of(steps_.begin(), steps_.end(), [](const Step& s) { return s.visible; });
}

int TGaugeRecorder::MaxProgress() const {
    int m = 0;
    for (const auto& s : steps_) m = std::max(m, s.progress);
    return m;
}

}  // namespace tavtest
