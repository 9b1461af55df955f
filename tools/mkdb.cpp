// Build-time tool: makes a fresh database file from a schema script.
// Usage: mkdb SCHEMA.sql OUTPUT
#include <sqlite3.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: mkdb SCHEMA.sql OUTPUT\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "mkdb: cannot read %s\n", argv[1]);
        return 1;
    }
    std::stringstream schema;
    schema << in.rdbuf();

    const std::string tmp = std::string(argv[2]) + ".part";
    std::remove(tmp.c_str());
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(tmp.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "mkdb: %s\n", db ? sqlite3_errmsg(db) : "out of memory");
        sqlite3_close(db);
        return 1;
    }
    char *err = nullptr;
    int rc = sqlite3_exec(db, schema.str().c_str(), nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        std::fprintf(stderr, "mkdb: %s\n", err ? err : sqlite3_errstr(rc));
        sqlite3_free(err);
        sqlite3_close(db);
        std::remove(tmp.c_str());
        return 1;
    }
    sqlite3_close(db);
    std::remove(argv[2]);
    if (std::rename(tmp.c_str(), argv[2]) != 0) {
        std::perror("mkdb: rename");
        return 1;
    }
    return 0;
}
