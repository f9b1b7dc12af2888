// The ctest fixture of the PostgreSQL tests: starts the one server they share, and stops it.
//   tav_pg_server start STATE   stops a server STATE names, starts one and names it in STATE
//                               (or writes why none can run, so that the tests skip)
//   tav_pg_server stop STATE    stops the server STATE names and removes its folder and STATE
#include <chrono>
#include <iostream>
#include <string>

#include "support/tav_pg_support.h"

int main(int argc, char** argv) {
    const std::string command = argc == 3 ? argv[1] : "";
    if (command != "start" && command != "stop") {
        std::cerr << "usage: tav_pg_server start|stop STATEFILE\n";
        return 2;
    }
    const std::string state = argv[2];
    try {
        tavtest::TPgServer::StopSaved(state);
        if (command == "stop") return 0;
        if (const std::string missing = tavtest::TPgServer::Missing(); !missing.empty()) {
            tavtest::TPgServer::SaveMissing(state, missing);
            std::cout << "The PostgreSQL tests will be skipped: " << missing << "\n";
            return 0;
        }
        const auto start = std::chrono::steady_clock::now();
        tavtest::TPgServer server(tavtest::TPgServer::TLife::Detached);
        server.Save(state);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        std::cout << "PostgreSQL server " << server.Address().Url() << " in " << server.Folder()
                  << ", ready with its tables in " << ms.count() << " ms\n";
    } catch (const std::exception& e) {
        std::cerr << "tav_pg_server: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
