-- The database the programs ship with. The build makes Database.mdb from this
-- file; the programs themselves never create a database, a table or a column.
--
-- Whole numbers are 32-bit: STRICT refuses anything that is not an integer,
-- and the CHECKs refuse what does not fit, so an identifier comes back in
-- plain decimal. `id` is the row id: filled by the database, ascending in the
-- order of insertion.

-- Pages of 8 KiB: the run reads and changes the forums' rows one by one in
-- an order unlike the table's, and with pages of this size a row is found in
-- fewer page steps than with the engine's default of 4 KiB.
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

-- "WHERE podrazdel_id = X ORDER BY id": the index entries carry the row id,
-- so the lookup returns the forums of a section already in id order.
CREATE INDEX Forum_table_podrazdel_id ON Forum_table (podrazdel_id);
