#pragma once
// The database a desk's readings go to, as [Database] Connection= names it:
// a PostgreSQL connection string ("host=office-db dbname=weighing ...") or a
// postgresql:// address, read by libpq itself, so every libpq key passes
// through. The password is kept out of every text made from it.

#include <string>
#include <vector>

namespace tarvex {

struct DatabaseTarget {
    // The keys and values to connect with: the user's, then the defaults
    // this program adds where the user gave none (time limits for a server
    // that does not answer).
    std::vector<std::string> keys;
    std::vector<std::string> values;
    // "desk3@office-db:5432/weighing": names the target without its password.
    std::string label;
    // The table's name as given ("readings", "weighing.readings").
    std::string table;
    std::string password;  // to keep out of every message; may be empty
};

// False, with libpq's reason (the password taken out), when the connection
// string or the table's name cannot be used.
bool ParseDatabaseTarget(const std::string& connection, const std::string& table, DatabaseTarget& target,
                         std::string& reason);

// The text with every appearance of the secret replaced by asterisks.
std::string WithoutSecret(std::string text, const std::string& secret);

// The table's name as SQL: each part of "schema.table" in double quotes.
std::string QuotedTableName(const std::string& table);

}  // namespace tarvex
