#include "outputs/DatabaseTarget.h"

#include <libpq-fe.h>

#include <algorithm>
#include <memory>

namespace tarvex {
namespace {

// A server that takes no connection, or stops answering one, is given up on
// within these limits and tried again later; the user's own values win.
const std::pair<const char*, const char*> DEFAULTS[] = {
    {"connect_timeout", "10"},
    {"keepalives", "1"},
    {"keepalives_idle", "5"},
    {"keepalives_interval", "2"},
    {"keepalives_count", "3"},
    {"tcp_user_timeout", "15000"},
    {"application_name", "tarvex-scale"},
};

// What a string that could not be parsed may hold as its password: the
// value after "password=", and the part after ':' in "user:secret@" of an
// address. libpq's reason may quote either.
std::vector<std::string> PasswordsIn(const std::string& connection) {
    std::vector<std::string> found;
    for (size_t at = connection.find("password"); at != std::string::npos; at = connection.find("password", at + 1)) {
        size_t value = connection.find_first_not_of(" \t", at + 8);
        if (value == std::string::npos || connection[value] != '=') continue;
        value = connection.find_first_not_of(" \t", value + 1);
        if (value == std::string::npos) continue;
        const bool quoted = connection[value] == '\'';
        if (quoted) ++value;
        const size_t end = connection.find_first_of(quoted ? "'" : " \t&", value);
        found.push_back(connection.substr(value, end == std::string::npos ? std::string::npos : end - value));
    }
    const size_t scheme = connection.find("://");
    if (scheme != std::string::npos) {
        const size_t hostStart = scheme + 3;
        const size_t at = connection.find('@', hostStart);
        const size_t colon = connection.find(':', hostStart);
        if (at != std::string::npos && colon != std::string::npos && colon < at)
            found.push_back(connection.substr(colon + 1, at - colon - 1));
    }
    found.erase(std::remove(found.begin(), found.end(), std::string()), found.end());
    return found;
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

}  // namespace

std::string WithoutSecret(std::string text, const std::string& secret) {
    if (secret.empty()) return text;
    for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 8))
        text.replace(at, secret.size(), "********");
    return text;
}

std::string QuotedTableName(const std::string& table) {
    std::string quoted = "\"";
    for (const char c : table) {
        if (c == '.') {
            quoted += "\".\"";
        } else {
            if (c == '"') quoted += '"';
            quoted += c;
        }
    }
    return quoted + "\"";
}

bool ParseDatabaseTarget(const std::string& connection, const std::string& table, DatabaseTarget& target,
                         std::string& reason) {
    char* error = nullptr;
    std::unique_ptr<PQconninfoOption, decltype(&PQconninfoFree)> options(PQconninfoParse(connection.c_str(), &error),
                                                                       PQconninfoFree);
    if (!options) {
        reason = error ? Trimmed(error) : "out of memory";
        if (error) PQfreemem(error);
        for (const std::string& secret : PasswordsIn(connection)) reason = WithoutSecret(reason, secret);
        return false;
    }
    const std::string name = table.empty() ? "readings" : table;
    const size_t dot = name.find('.');
    if (name.front() == '.' || name.back() == '.' || (dot != std::string::npos && name.find('.', dot + 1) != std::string::npos) ||
        name.find('\0') != std::string::npos) {
        reason = "the table's name \"" + name + "\" is not a name or schema.name";
        return false;
    }
    target = DatabaseTarget{};
    target.table = name;
    std::string user, host, port, dbname;
    for (const PQconninfoOption* option = options.get(); option->keyword; ++option) {
        if (!option->val) continue;
        const std::string key = option->keyword;
        target.keys.push_back(key);
        target.values.push_back(option->val);
        if (key == "password") target.password = option->val;
        if (key == "user") user = option->val;
        if (key == "host" || (key == "hostaddr" && host.empty())) host = option->val;
        if (key == "port") port = option->val;
        if (key == "dbname") dbname = option->val;
    }
    for (const auto& [key, value] : DEFAULTS) {
        if (std::find(target.keys.begin(), target.keys.end(), key) != target.keys.end()) continue;
        target.keys.push_back(key);
        target.values.push_back(value);
    }
    target.label = (user.empty() ? "" : user + "@") + (host.empty() ? "localhost" : host) +
                   (port.empty() ? "" : ":" + port) + "/" + (dbname.empty() ? user : dbname);
    target.label = WithoutSecret(target.label, target.password);
    return true;
}

}  // namespace tarvex
