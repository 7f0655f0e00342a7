#pragma once
// Debian's PostgreSQL server, of the test's own (tools/test-postgres.sh):
// a database "weighing", the login role "desk" (password "desk-pass"), and
// a connection of the test's own to look at what the program wrote.

#include <libpq-fe.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/LoopbackPorts.h"

namespace tarvex::test {

class RunningPostgres {
public:
    RunningPostgres()
        : m_port(FreeLoopbackPort()),
          m_folder("/tmp/tarvex-pg-" + std::to_string(::getpid()) + "-" + std::to_string(Counter()++)) {
        Start();
    }
    ~RunningPostgres() {
        if (m_look) PQfinish(m_look);
        if (m_owned) Script("remove");
    }
    RunningPostgres(const RunningPostgres&) = delete;
    RunningPostgres& operator=(const RunningPostgres&) = delete;

    void Start() { Script("start", std::to_string(m_port)); }
    // "-m immediate": as a crash of the server would.
    void Stop(bool immediate = true) {
        if (m_look) PQfinish(m_look);
        m_look = nullptr;
        Script("stop", immediate ? "immediate" : "fast");
    }

    int Port() const { return m_port; }
    std::string Connection(const std::string& password = "desk-pass") const {
        return "host=127.0.0.1 port=" + std::to_string(m_port) + " dbname=weighing user=desk password=" + password;
    }

    // Rows of a statement, as text ("" for NULL), from another connection
    // (the superuser's, over the server's socket).
    std::vector<std::vector<std::string>> Query(const std::string& sql) {
        if (!m_look) {
            const std::string look = "host=" + m_folder + " port=" + std::to_string(m_port) + " dbname=weighing user=postgres";
            m_look = PQconnectdb(look.c_str());
        }
        PGresult* result = PQexec(m_look, sql.c_str());
        const ExecStatusType status = PQresultStatus(result);
        if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
            const std::string why = PQerrorMessage(m_look);
            PQclear(result);
            throw std::runtime_error(sql + ": " + why);
        }
        std::vector<std::vector<std::string>> rows;
        for (int r = 0; r < PQntuples(result); ++r) {
            rows.emplace_back();
            for (int c = 0; c < PQnfields(result); ++c) rows.back().emplace_back(PQgetvalue(result, r, c));
        }
        PQclear(result);
        return rows;
    }
    std::string Value(const std::string& sql) {
        const auto rows = Query(sql);
        return rows.empty() || rows[0].empty() ? std::string() : rows[0][0];
    }

    // A look of its own at the same server, for another thread.
    std::unique_ptr<RunningPostgres> AnotherLook() const {
        return std::unique_ptr<RunningPostgres>(new RunningPostgres(m_port, m_folder));
    }

private:
    // Another look at a server that runs already.
    RunningPostgres(int port, std::string folder) : m_port(port), m_folder(std::move(folder)), m_owned(false) {}
    static std::atomic<int>& Counter() {
        static std::atomic<int> counter{0};
        return counter;
    }
    void Script(const std::string& action, const std::string& argument = {}) const {
        const std::string command = "bash " TARVEX_SOURCE_DIR "/tools/test-postgres.sh " + action + " " + m_folder +
                                    (argument.empty() ? "" : " " + argument);
        if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
    }

    int m_port;
    std::string m_folder;
    PGconn* m_look = nullptr;
    bool m_owned = true;
};

}  // namespace tarvex::test
