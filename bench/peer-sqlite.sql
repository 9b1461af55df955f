-- The reindexing done set-based in the sqlite3 shell, in a database of its
-- own with tables as a database-savvy administrator would make them: what
-- such a person would write instead of running the program. reindex-cli is
-- measured against it.
--
--   cd DIR && rm -f peer.db peer.db-wal peer.db-shm && sqlite3 -bail peer.db < peer-sqlite.sql
--
-- DIR holds the two lists as sections.txt and forums.txt; fr_fr.txt and
-- forum.txt are written there. peer-sqlite.sh does exactly that for lists
-- stored anywhere.
--
-- Titles may hold "|", so each line comes in whole, into a one-column table
-- (a unit separator never occurs in a title), and is taken apart in SQL. The
-- signature of a file arrives as U+FEFF at the start of its first row, and
-- the CR of a CR LF at the end of every row.

-- The page size the program's own database has, so that the two engines'
-- work differs in the tables alone; it must come before the first table.
PRAGMA page_size = 8192;
PRAGMA journal_mode = WAL;
PRAGMA synchronous = NORMAL;
PRAGMA cache_size = -65536;

CREATE TEMP TABLE section_line(line TEXT);
CREATE TEMP TABLE forum_line(line TEXT);

.mode ascii
.separator "\037" "\n"
.import sections.txt section_line
.import forums.txt forum_line

BEGIN;

-- Plain tables, no index but the row id: the renumbering scans the forums
-- once and finds each one's section in an index the engine builds for that
-- join on its own (EXPLAIN QUERY PLAN: "AUTOMATIC COVERING INDEX"), and the
-- exports read in row id order, so an index on the forums' section would
-- only cost every insert.
CREATE TABLE Razdel_table(id INTEGER PRIMARY KEY, old_id INTEGER, str_value TEXT);
CREATE TABLE Forum_table(id INTEGER PRIMARY KEY, old_id INTEGER, podrazdel_id INTEGER,
                         new_id INTEGER, str_value TEXT);

-- Rows go in in file order, so the row id is the line's position.
INSERT INTO Razdel_table(old_id, str_value)
SELECT CAST(substr(line, 1, instr(line, '|') - 1) AS INTEGER),
       substr(line, instr(line, '|') + 1)
FROM (SELECT rtrim(CASE WHEN rowid = 1 AND substr(line, 1, 1) = char(65279)
                        THEN substr(line, 2) ELSE line END, char(13)) AS line
      FROM section_line ORDER BY rowid);

INSERT INTO Forum_table(old_id, podrazdel_id, new_id, str_value)
SELECT CAST(substr(line, 1, bar - 1) AS INTEGER),
       CAST(substr(rest, 1, instr(rest, '|') - 1) AS INTEGER),
       0,
       substr(rest, instr(rest, '|') + 1)
FROM (SELECT line, instr(line, '|') AS bar, substr(line, instr(line, '|') + 1) AS rest
      FROM (SELECT rtrim(CASE WHEN rowid = 1 AND substr(line, 1, 1) = char(65279)
                              THEN substr(line, 2) ELSE line END, char(13)) AS line
            FROM forum_line ORDER BY rowid));

-- A section's number is its position; of sections sharing an ID the last
-- one counts. Forums of no section keep their 0.
UPDATE Forum_table SET new_id = n.num
FROM (SELECT old_id, max(num) AS num
      FROM (SELECT old_id, row_number() OVER (ORDER BY id) AS num FROM Razdel_table)
      GROUP BY old_id) AS n
WHERE Forum_table.podrazdel_id = n.old_id;

COMMIT;

.mode list
.separator "|" "\r\n"
.headers off
.output fr_fr.txt
SELECT row_number() OVER (ORDER BY id), str_value FROM Razdel_table ORDER BY id;
.output forum.txt
SELECT old_id, new_id, str_value FROM Forum_table ORDER BY id;
.output stdout
