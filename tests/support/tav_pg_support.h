// A PostgreSQL server of the tests' own, and the tests' way to it.
//
// TPgServer makes a database cluster with initdb in a new temporary folder and runs it on a free
// port of 127.0.0.1, with its socket in that folder and trust authentication. When the process
// runs as root, the folder belongs to the `postgres` account and every server program runs as
// that account (the server refuses root). The cluster holds database `tavtest`, owned by the
// login role `tav` (no superuser, so what the tests see of writing is the server's doing, not a
// missing privilege), with these tables:
//   sales         the example's records (examples/sales.csv), in the order of the file
//   "Sales Data"  "Id", "Profit", "advert Cost" of sales: identifiers that need their quotes
//   "Odd ""Name"".v2"  the same, under a name holding a quote and a dot
//   types         one column per PostgreSQL type that maps to a field class; three records:
//                 plain values, nulls, and negative or large ones
//   victim        ten records, with the sequence victim_seq, for the checks that nothing writes
//
// One server serves all PostgreSQL tests of a ctest run: the fixture tav_pg_server starts it and
// names it in a state file, whose path CTest passes in TAV_PG_STATE. A test program run without
// that variable starts a server of its own on first use and stops it when it ends; the server is
// tied to the process, so a crash cannot leave it running, and the next server made removes the
// folder it left.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <memory>
#include <string>

namespace tavtest {

// Where a client finds the test database.
struct TPgAddress {
    std::string host = "127.0.0.1";
    int port = 0;
    std::string user = "tav";
    std::string database = "tavtest";
    // "postgresql://tav@127.0.0.1:PORT/tavtest", or with another scheme or user part.
    std::string Url(const std::string& scheme = "postgresql") const;
};

class TPgServer {
  public:
    // Tied: the server stops when this process ends, however it ends. Detached: it outlives the
    // process (the ctest fixture's), and only Stop or the next fixture run stops it.
    enum class TLife { Tied, Detached };

    // What is missing to run a server (the programs of the newest /usr/lib/postgresql/*/bin, or
    // of TAV_PG_BINDIR; the `postgres` account when running as root); empty when nothing is.
    static std::string Missing();

    // Makes the cluster, starts it and loads the tables; throws std::runtime_error with the end
    // of the server's log when something fails.
    explicit TPgServer(TLife life = TLife::Tied);
    // Stops the server and removes its folder, unless it is a detached one still running.
    ~TPgServer();
    TPgServer(const TPgServer&) = delete;
    TPgServer& operator=(const TPgServer&) = delete;

    const TPgAddress& Address() const { return address_; }
    const std::string& Folder() const { return folder_; }
    bool Running() const { return pid_ > 0; }

    // pg_ctl stop -m fast, or -m immediate (the server is killed, as on a crash).
    void Stop(bool immediate = false);
    // Starts the stopped server again on the same port and data.
    void Start();

    // The state file of the ctest fixture: writes it, and stops and removes the server a state
    // file names (nothing when there is no file). A state file with `missing=` names no server.
    void Save(const std::string& path) const;
    static void SaveMissing(const std::string& path, const std::string& missing);
    static void StopSaved(const std::string& path);

  private:
    struct TSaved {};
    explicit TPgServer(TSaved) {}  // a server a state file names
    void Launch();

    TLife life_ = TLife::Tied;
    std::string bin_;
    std::string folder_;
    TPgAddress address_;
    pid_t pid_ = 0;
    bool child_ = false;  // pid_ is this process's child (to be reaped)
};

// Runs SQL (psql's meta-commands too) through psql on the server at `address`, as its user on its
// database, and returns what psql prints (tuples only, unaligned, '|' between values); throws
// std::runtime_error with psql's message when a statement fails.
std::string Psql(const TPgAddress& address, const std::string& sql);

// The server of this test process (see above), started on first use. Null where a server cannot
// run, with `missing` saying why; a server that fails to start throws.
const TPgAddress* SharedPgServer(std::string& missing);

// Base of the PostgreSQL tests: skips the test, naming what is missing, where no server can run.
class TPgTest : public ::testing::Test {
  protected:
    void SetUp() override;
    const TPgAddress& Server() const { return *server_; }
    std::string Url() const { return server_->Url(); }

  private:
    const TPgAddress* server_ = nullptr;
};

}  // namespace tavtest
