#pragma once

namespace run::folderFiles {

// The files a run keeps in its folder, by the names people see.
inline constexpr const char *outputs[] = {"fr_fr.txt", "forum.txt"};
inline constexpr const char *intermediates[] = {"1.txt", "2.txt"};
// The database and the files its engine keeps beside it while it works.
inline constexpr const char *database[] = {"Database.mdb", "Database.mdb-wal", "Database.mdb-shm",
                                           "Database.mdb-journal"};

} // namespace run::folderFiles
