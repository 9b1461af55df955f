-- The database the programs ship with. The build makes Database.mdb from this
-- file; the programs themselves never create a database, a table or a column.
--
-- Whole numbers are 32-bit: STRICT refuses anything that is not an integer,
-- and the CHECKs refuse what does not fit, so an identifier comes back in
-- plain decimal. `id` is the row id, ascending in the order of the lines:
-- a section's is its number, a forum's is given by the database. No other
-- index: the run reads both tables only in the order of their ids.

-- Pages of 8 KiB: rows go in and come out in the order of their ids, so
-- larger pages mean fewer of them to write and read.
PRAGMA page_size = 8192;

CREATE TABLE Razdel_table (
    id        INTEGER PRIMARY KEY CHECK (id BETWEEN -2147483648 AND 2147483647),
    old_id    INTEGER CHECK (old_id BETWEEN -2147483648 AND 2147483647),
    str_value TEXT
) STRICT;

CREATE TABLE Forum_table (
    id           INTEGER PRIMARY KEY CHECK (id BETWEEN -2147483648 AND 2147483647),
    old_id       INTEGER CHECK (old_id BETWEEN -2147483648 AND 2147483647),
    podrazdel_id INTEGER CHECK (podrazdel_id BETWEEN -2147483648 AND 2147483647),
    new_id       INTEGER CHECK (new_id BETWEEN -2147483648 AND 2147483647),
    str_value    TEXT
) STRICT;
