#include "support/tav_pg_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "support/tav_paths.h"

namespace fs = std::filesystem;

namespace tavtest {
namespace {

constexpr const char* kServerAccount = "postgres";
constexpr const char* kFolderPrefix = "tav-pg-";

bool Root() { return geteuid() == 0; }

// The newest installed server's programs, or those of TAV_PG_BINDIR.
std::string BinDir() {
    if (const char* dir = std::getenv("TAV_PG_BINDIR"); dir && *dir) return dir;
    std::string best = "/usr/lib/postgresql/*/bin";
    long bestVersion = -1;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec)) {
        const std::string name = entry.path().filename().string();
        char* end = nullptr;
        const long version = std::strtol(name.c_str(), &end, 10);
        if (end != name.c_str() && *end == '\0' && version > bestVersion) {
            bestVersion = version;
            best = (entry.path() / "bin").string();
        }
    }
    return best;
}

// The account the server programs run as: this one, or postgres under root.
struct TAccount {
    bool change = false;
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
};

TAccount ServerAccount() {
    TAccount account;
    if (!Root()) return account;
    const passwd* pw = getpwnam(kServerAccount);
    if (!pw) throw std::runtime_error("no account 'postgres' to run the server as");
    account.change = true;
    account.uid = pw->pw_uid;
    account.gid = pw->pw_gid;
    int count = 0;
    getgrouplist(kServerAccount, account.gid, nullptr, &count);
    account.groups.resize(static_cast<size_t>(count));
    getgrouplist(kServerAccount, account.gid, account.groups.data(), &count);
    account.groups.resize(static_cast<size_t>(count));
    return account;
}

enum class TTie { None, Tied, Detached };

// Starts `argv` with a fixed environment, standard input from `input` and standard output and
// error to `output` (-1: /dev/null), in `folder`, as the server's account when `asServer`. A tied
// process is sent SIGQUIT (a server's immediate shutdown) when this thread ends; a detached one
// runs in a session of its own. Only async-signal-safe calls follow the fork: the process may
// have threads.
pid_t Spawn(const std::vector<std::string>& argv, bool asServer, int input, int output,
            const std::string& folder, TTie tie) {
    const TAccount account = asServer ? ServerAccount() : TAccount{};
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    static const char* const environment[] = {"PATH=/usr/bin:/bin", "LC_ALL=C", "TZ=UTC", nullptr};
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0) throw std::runtime_error("cannot open /dev/null");
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        if (tie == TTie::Detached) setsid();
        if (dup2(input >= 0 ? input : null, 0) < 0 || dup2(output >= 0 ? output : null, 1) < 0 ||
            dup2(output >= 0 ? output : null, 2) < 0)
            _exit(126);
        close_range(3, ~0U, 0);
        if (account.change && (setgroups(account.groups.size(), account.groups.data()) != 0 ||
                               setgid(account.gid) != 0 || setuid(account.uid) != 0))
            _exit(126);
        // After the change of account, which clears it.
        if (tie == TTie::Tied && (prctl(PR_SET_PDEATHSIG, SIGQUIT) != 0 || getppid() != parent))
            _exit(126);
        if (chdir(folder.c_str()) != 0) _exit(126);
        execve(args[0], args.data(), const_cast<char* const*>(environment));
        _exit(127);
    }
    close(null);
    if (pid < 0) throw std::runtime_error("cannot start " + argv[0]);
    return pid;
}

int Wait(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// An anonymous temporary file: a program's input or output.
class TTempFile {
  public:
    TTempFile() : file_(std::tmpfile()) {
        if (!file_) throw std::runtime_error("cannot make a temporary file");
    }
    explicit TTempFile(const std::string& text) : TTempFile() {
        std::fwrite(text.data(), 1, text.size(), file_);
        std::fflush(file_);
        std::rewind(file_);
    }
    ~TTempFile() { std::fclose(file_); }
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;
    int Fd() const { return fileno(file_); }
    std::string Text() const {
        std::rewind(file_);
        std::string text;
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file_)) > 0;)
            text.append(buffer, n);
        return text;
    }

  private:
    std::FILE* file_;
};

struct TResult {
    int status;
    std::string output;  // standard output and error
};

TResult Run(const std::vector<std::string>& argv, bool asServer, const std::string& folder,
            const std::string& input = {}) {
    TTempFile in(input), out;
    const int status = Wait(Spawn(argv, asServer, in.Fd(), out.Fd(), folder, TTie::None));
    return {status, out.Text()};
}

std::string Tail(const std::string& text, size_t size = 2000) {
    return text.size() > size ? "..." + text.substr(text.size() - size) : text;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A port of 127.0.0.1 that was free a moment ago.
int FreePort() {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    const bool ok = s >= 0 && bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                    getsockname(s, reinterpret_cast<sockaddr*>(&a), &size) == 0;
    if (s >= 0) close(s);
    if (!ok) throw std::runtime_error("no free port on 127.0.0.1");
    return ntohs(a.sin_port);
}

bool Alive(long pid) {
    return pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

// The lines of a server's lock file: its process id first, its state ("ready") eighth.
std::vector<std::string> LockFile(const std::string& folder) {
    std::vector<std::string> lines;
    std::ifstream in(folder + "/data/postmaster.pid");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Removes the folders of servers whose process and maker have both ended without doing it
// (a test process that crashed). A folder's name holds the id of the process that made it.
void Sweep(const fs::path& base) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(base, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(kFolderPrefix, 0) != 0) continue;
        const long maker = std::strtol(name.c_str() + std::strlen(kFolderPrefix), nullptr, 10);
        const auto lock = LockFile(entry.path().string());
        if (Alive(maker) || (!lock.empty() && Alive(std::strtol(lock[0].c_str(), nullptr, 10))))
            continue;
        fs::remove_all(entry.path(), ec);
    }
}

std::string MakeFolder() {
    // The server's account must reach the folder: under root, /tmp whatever TMPDIR says.
    const fs::path base = Root() ? fs::path("/tmp") : fs::temp_directory_path();
    Sweep(base);
    std::string folder = (base / (kFolderPrefix + std::to_string(getpid()) + "-XXXXXX")).string();
    if (!mkdtemp(folder.data()))
        throw std::runtime_error("cannot make a folder in " + base.string());
    const TAccount account = ServerAccount();
    if (account.change && chown(folder.c_str(), account.uid, account.gid) != 0) {
        fs::remove_all(folder);
        throw std::runtime_error("cannot give " + folder + " to the postgres account");
    }
    return folder;
}

std::string Quoted(const std::string& text) {
    std::string q = "'";
    for (char c : text) q += c == '\'' ? std::string("''") : std::string(1, c);
    return q + "'";
}

// The tables of the tests (see the header). The columns of sales keep the example's names,
// folded to lower case as PostgreSQL does with names written without quotes, so the example's
// SQL runs as it is; their types are chosen to go through every numeric reading.
std::string TablesScript() {
    return R"sql(
CREATE TABLE sales (
    id integer PRIMARY KEY, region varchar(20), saledate date, advert double precision,
    price money, units smallint, stores bigint, competitors smallint, income double precision,
    temp numeric(5,1), sales double precision, profit numeric(10,2));
\copy sales FROM )sql" +
           Quoted(tavtest::SalesCsv()) + R"sql( WITH (FORMAT csv, HEADER true)
CREATE TABLE "Sales Data" AS
    SELECT id AS "Id", profit AS "Profit", advert AS "advert Cost" FROM sales ORDER BY id;
CREATE TABLE "Odd ""Name"".v2" AS SELECT * FROM "Sales Data" ORDER BY "Id";
CREATE TABLE types (
    f_int2 smallint, f_int4 integer, f_int8 bigint, f_float4 real, f_float8 double precision,
    f_numeric numeric(12,2), f_money money, f_bool boolean, f_varchar varchar(20),
    f_bpchar char(8), f_text text, f_date date, f_time time, f_timestamp timestamp,
    f_timestamptz timestamptz, f_bytea bytea);
INSERT INTO types VALUES
    (8, 6, 7, 1.5, 3.5, 4.25, '5.75', true, 'eleven', 'twelve', 'ten', '2024-01-02', '06:00:00',
     '2024-01-02 12:00:00', '2024-01-02 12:00:00+00', '\x00ff'),
    (NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
     NULL),
    (-8, -6, 4000000000, -2.5, 1e300, -1234567.89, '-1234567.89', false, '', '', '',
     '1899-12-30', '00:00:00', '1899-12-30 00:00:00', '1899-12-30 00:00:00+00', '\x');
CREATE TABLE victim AS SELECT generate_series(1, 10) AS id;
CREATE SEQUENCE victim_seq;
)sql";
}

std::map<std::string, std::string> ReadState(const std::string& path) {
    std::map<std::string, std::string> state;
    std::ifstream in(path);
    if (!in) throw std::runtime_error("no PostgreSQL server state in " + path);
    for (std::string line; std::getline(in, line);) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) state[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return state;
}

}  // namespace

std::string TPgAddress::Url(const std::string& scheme) const {
    return scheme + "://" + user + "@" + host + ":" + std::to_string(port) + "/" + database;
}

std::string TPgServer::Missing() {
    const std::string bin = BinDir();
    std::string missing;
    for (const char* program : {"initdb", "postgres", "pg_ctl", "psql"})
        if (access((bin + "/" + program).c_str(), X_OK) != 0)
            missing += (missing.empty() ? "" : ", ") + bin + "/" + program;
    if (!missing.empty())
        return "the PostgreSQL server programs are missing: " + missing +
               " (Debian package postgresql, or TAV_PG_BINDIR)";
    if (Root() && !getpwnam(kServerAccount))
        return "running as root, and no account 'postgres' to run the PostgreSQL server as";
    return {};
}

TPgServer::TPgServer(TLife life) : life_(life) {
    if (const std::string missing = Missing(); !missing.empty()) throw std::runtime_error(missing);
    bin_ = BinDir();
    folder_ = MakeFolder();
    try {
        const TResult init = Run({bin_ + "/initdb", "-D", folder_ + "/data", "-U", "postgres", "-A",
                                  "trust", "-E", "UTF8", "--locale=C", "--no-sync"},
                                 true, folder_);
        if (init.status != 0) throw std::runtime_error("initdb failed: " + Tail(init.output));
        Launch();
        TPgAddress super = address_;
        super.user = super.database = "postgres";
        Psql(super, "CREATE ROLE tav LOGIN;\nCREATE DATABASE tavtest OWNER tav;\n");
        Psql(address_, TablesScript());
    } catch (...) {
        Stop(true);
        std::error_code ec;
        fs::remove_all(folder_, ec);
        throw;
    }
}

TPgServer::~TPgServer() {
    if (life_ == TLife::Detached && Running()) return;
    Stop();
    std::error_code ec;
    if (!folder_.empty()) fs::remove_all(folder_, ec);
}

void TPgServer::Launch() {
    const bool anyPort = address_.port == 0;
    for (int attempt = 1;; ++attempt) {
        if (anyPort) address_.port = FreePort();
        const std::string log = folder_ + "/server.log";
        const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd < 0) throw std::runtime_error("cannot write " + log);
        // Durability guards against a crash of the machine, and the cluster dies with the test
        // run; a crash of the server (the tests kill it) loses nothing committed all the same.
        std::vector<std::string> args = {bin_ + "/postgres", "-D", folder_ + "/data", "-p",
                                         std::to_string(address_.port)};
        for (const std::string& setting : std::initializer_list<std::string>{
                 "listen_addresses=127.0.0.1", "unix_socket_directories=" + folder_, "fsync=off",
                 "full_page_writes=off", "shared_buffers=16MB", "timezone=UTC", "lc_messages=C",
                 "lc_monetary=C"}) {
            args.push_back("-c");
            args.push_back(setting);
        }
        pid_ =
            Spawn(args, true, -1, fd, folder_, life_ == TLife::Tied ? TTie::Tied : TTie::Detached);
        child_ = true;
        close(fd);
        // Ready when its lock file says so; a server that has ended says why in its log.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (waitpid(pid_, nullptr, WNOHANG) == 0) {
            const auto lock = LockFile(folder_);
            if (lock.size() >= 8 && lock[0] == std::to_string(pid_) &&
                lock[7].rfind("ready", 0) == 0)
                return;
            if (std::chrono::steady_clock::now() > deadline) {
                Stop(true);
                throw std::runtime_error("the PostgreSQL server was not ready within 60 s: " +
                                         Tail(ReadFile(log)));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = 0;
        child_ = false;
        const std::string why = ReadFile(log);
        // Another process may have taken the port since it was found free.
        if (anyPort && attempt < 5 && why.find("could not bind") != std::string::npos) continue;
        throw std::runtime_error("the PostgreSQL server did not start: " + Tail(why));
    }
}

void TPgServer::Stop(bool immediate) {
    if (pid_ <= 0) return;
    const TResult stop = Run({bin_ + "/pg_ctl", "stop", "-D", folder_ + "/data", "-m",
                              immediate ? "immediate" : "fast", "-w", "-t", "60"},
                             true, folder_);
    if (child_) {
        if (stop.status != 0) kill(pid_, SIGKILL);
        Wait(pid_);
    }
    pid_ = 0;
    child_ = false;
}

void TPgServer::Start() {
    if (pid_ <= 0) Launch();
}

void TPgServer::Save(const std::string& path) const {
    const std::string temporary = path + ".new";
    std::ofstream(temporary) << "folder=" << folder_ << "\nbin=" << bin_
                             << "\nport=" << address_.port << "\npid=" << pid_ << "\n";
    fs::rename(temporary, path);
}

void TPgServer::SaveMissing(const std::string& path, const std::string& missing) {
    std::ofstream(path) << "missing=" << missing << "\n";
}

void TPgServer::StopSaved(const std::string& path) {
    if (!fs::exists(path)) return;
    const auto state = ReadState(path);
    fs::remove(path);
    if (state.count("missing") || !state.count("folder")) return;
    const std::string folder = state.at("folder");
    if (fs::path(folder).filename().string().rfind(kFolderPrefix, 0) != 0)
        throw std::runtime_error(path + " names no server folder: " + folder);
    TPgServer server(TSaved{});  // stops the server and removes the folder when it goes
    server.folder_ = folder;
    server.bin_ = state.at("bin");
    server.pid_ = static_cast<pid_t>(std::stol(state.at("pid")));
}

std::string Psql(const TPgAddress& address, const std::string& sql) {
    const TResult r = Run(
        {BinDir() + "/psql", "-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-h", address.host,
         "-p", std::to_string(address.port), "-U", address.user, "-d", address.database, "-f", "-"},
        false, "/", sql);
    if (r.status != 0) throw std::runtime_error("psql failed: " + Tail(r.output));
    return r.output;
}

const TPgAddress* SharedPgServer(std::string& missing) {
    static std::unique_ptr<TPgServer> own;
    static TPgAddress address;
    static std::string why;
    static std::string failure;  // of the first start, for every test after it
    static bool looked = false;
    if (!failure.empty()) throw std::runtime_error(failure);
    if (!looked) {
        try {
            if (const char* state = std::getenv("TAV_PG_STATE"); state && *state) {
                const auto saved = ReadState(state);
                if (saved.count("missing"))
                    why = saved.at("missing");
                else
                    address.port = std::stoi(saved.at("port"));
            } else {
                why = TPgServer::Missing();
                if (why.empty()) {
                    own = std::make_unique<TPgServer>();
                    address = own->Address();
                }
            }
        } catch (const std::exception& e) {
            failure = e.what();
            throw;
        }
        looked = true;
    }
    missing = why;
    return why.empty() ? &address : nullptr;
}

void TPgTest::SetUp() {
    std::string missing;
    server_ = SharedPgServer(missing);
    if (!server_) GTEST_SKIP() << "no PostgreSQL server for this test: " << missing;
}

}  // namespace tavtest
