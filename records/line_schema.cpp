#include "records/line_schema.h"

#include "common/whole_number.h"

namespace tessell {

namespace {

// Two inits at once (two stations set up together) wait for each other.
constexpr const char* kInitLock = "SELECT pg_advisory_xact_lock(7235019)";

// Version 1: serial-number counters, the numbers they handed out, and every
// reservation a station made.
constexpr const char* kVersion1 = R"sql(
CREATE TABLE tessell.serial_counters (
    pattern      text PRIMARY KEY,
    first_serial text NOT NULL,
    next_serial  text NOT NULL,
    issued       bigint NOT NULL DEFAULT 0,
    created_at   timestamptz NOT NULL DEFAULT now(),
    updated_at   timestamptz NOT NULL DEFAULT now()
);
CREATE TABLE tessell.serial_numbers (
    serial     text PRIMARY KEY,
    pattern    text NOT NULL REFERENCES tessell.serial_counters,
    state      text NOT NULL CHECK (state IN ('reserved', 'burned', 'released', 'void')),
    request_id text NOT NULL,
    station    text NOT NULL,
    port       text NOT NULL,
    taken_at   timestamptz NOT NULL,
    ended_at   timestamptz,
    takes      integer NOT NULL DEFAULT 1
);
CREATE INDEX serial_numbers_free ON tessell.serial_numbers (pattern, state);
CREATE TABLE tessell.serial_reservations (
    request_id text PRIMARY KEY,
    serial     text NOT NULL REFERENCES tessell.serial_numbers,
    station    text NOT NULL,
    port       text NOT NULL,
    record_id  text,
    state      text NOT NULL CHECK (state IN ('reserved', 'burned', 'released', 'void')),
    taken_at   timestamptz NOT NULL DEFAULT now(),
    ended_at   timestamptz
);
CREATE INDEX serial_reservations_station ON tessell.serial_reservations (station, state);
)sql";

// Version 2: every station's burn records, as its history holds them.
constexpr const char* kVersion2 = R"sql(
CREATE TABLE tessell.line_records (
    record_id     text PRIMARY KEY,
    station       text NOT NULL,
    sequence      bigint NOT NULL,
    hub           text NOT NULL,
    port          integer NOT NULL,
    serial_burned text NOT NULL,
    image_sha256  text NOT NULL,
    started       text NOT NULL,
    result        text NOT NULL,
    body          jsonb NOT NULL,
    received_at   timestamptz NOT NULL DEFAULT now()
);
CREATE INDEX line_records_station ON tessell.line_records (station, sequence);
CREATE INDEX line_records_started ON tessell.line_records (started);
)sql";

// Version 3: a reservation names the process that holds it (its computer,
// process id, start and a random id of its allocator), so that a station
// starting up voids only what processes that are gone left in flight, never
// the live reservations of another process under the same station name. Its
// record id leads from the number to the station's record. The functions
// whose arguments changed go, to be laid down anew below.
constexpr const char* kVersion3 = R"sql(
ALTER TABLE tessell.serial_reservations
    ADD COLUMN owner_host text,
    ADD COLUMN owner_pid integer,
    ADD COLUMN owner_started text,
    ADD COLUMN owner_token text;
CREATE INDEX serial_reservations_record ON tessell.serial_reservations (record_id);
DROP FUNCTION IF EXISTS tessell.take_serial(text, text, text, text, text, text);
DROP FUNCTION IF EXISTS tessell.resolve_station(text);
)sql";

// The functions and the rights, laid down again by every init.
constexpr const char* kFunctions = R"sql(
DO $$ BEGIN
    CREATE ROLE tessell_station NOLOGIN;
EXCEPTION WHEN duplicate_object OR unique_violation THEN NULL;
END $$;

-- The serial number after p_serial: the counter characters (the '*'
-- positions of p_pattern) count up in hexadecimal, 9 going to A and F
-- carrying into the character before it.
CREATE OR REPLACE FUNCTION tessell.next_serial(p_pattern text, p_serial text) RETURNS text
LANGUAGE plpgsql IMMUTABLE SET search_path = tessell, pg_temp AS $f$
DECLARE
    chars text[] := string_to_array(p_serial, NULL);
    positions integer[] := '{}';
    lowest integer;
    c text;
BEGIN
    FOR i IN 1 .. length(p_pattern) LOOP
        IF substr(p_pattern, i, 1) = '*' THEN
            positions := positions || i;
        END IF;
    END LOOP;
    FOR k IN REVERSE coalesce(array_length(positions, 1), 0) .. 1 LOOP
        c := chars[positions[k]];
        IF c ~ '^[0-8A-Ea-e]$' THEN
            chars[positions[k]] := chr(ascii(c) + 1);
            EXIT;
        ELSIF c = '9' THEN
            chars[positions[k]] := 'A';
            EXIT;
        ELSIF c IN ('F', 'f') THEN
            lowest := k;
        END IF;
    END LOOP;
    IF lowest IS NOT NULL THEN
        FOR k IN lowest .. array_length(positions, 1) LOOP
            chars[positions[k]] := '0';
        END LOOP;
    END IF;
    RETURN array_to_string(chars, '');
END $f$;

-- A counter of only '9's is the last one, and one with no character that
-- can count up would start again from zero.
CREATE OR REPLACE FUNCTION tessell.counter_exhausted(p_pattern text, p_serial text)
RETURNS boolean LANGUAGE sql IMMUTABLE SET search_path = tessell, pg_temp AS $f$
    SELECT length(p_serial) <> length(p_pattern) OR counter = '' OR counter ~ '^9+$'
           OR counter !~ '[0-9A-Ea-e]'
    FROM (SELECT coalesce(string_agg(substr(p_serial, i, 1), '' ORDER BY i), '') AS counter
          FROM generate_series(1, length(p_pattern)) AS i
          WHERE substr(p_pattern, i, 1) = '*') AS counter_characters
$f$;

-- Reserves a number for p_request: the one it already holds when the
-- request is repeated, else the lowest released number of the pattern, else
-- the counter's next (the counter starts at p_first when the line has none
-- for the pattern yet).
CREATE OR REPLACE FUNCTION tessell.take_serial(p_request text, p_pattern text, p_first text,
                                               p_station text, p_port text, p_record text,
                                               p_owner_host text, p_owner_pid integer,
                                               p_owner_started text, p_owner_token text)
RETURNS text LANGUAGE plpgsql SECURITY DEFINER SET search_path = tessell, pg_temp AS $f$
DECLARE
    taken text;
BEGIN
    SELECT serial INTO taken FROM serial_reservations WHERE request_id = p_request;
    IF FOUND THEN
        RETURN taken;
    END IF;
    SELECT serial INTO taken FROM serial_numbers
        WHERE pattern = p_pattern AND state = 'released'
        ORDER BY serial LIMIT 1 FOR UPDATE SKIP LOCKED;
    IF FOUND THEN
        UPDATE serial_numbers
            SET state = 'reserved', request_id = p_request, station = p_station, port = p_port,
                taken_at = now(), ended_at = NULL, takes = takes + 1
            WHERE serial = taken;
    ELSE
        IF length(p_first) <> length(p_pattern) THEN
            RAISE EXCEPTION 'the first serial number does not fit pattern %', p_pattern
                USING ERRCODE = 'TSX02';
        END IF;
        INSERT INTO serial_counters (pattern, first_serial, next_serial)
            VALUES (p_pattern, p_first, p_first) ON CONFLICT (pattern) DO NOTHING;
        UPDATE serial_counters AS counter
            SET next_serial = next_serial(p_pattern, old.next_serial), issued = counter.issued + 1,
                updated_at = now()
            FROM (SELECT next_serial FROM serial_counters WHERE pattern = p_pattern FOR UPDATE)
                AS old
            WHERE counter.pattern = p_pattern
            RETURNING old.next_serial INTO taken;
        IF counter_exhausted(p_pattern, taken) THEN
            RAISE EXCEPTION 'the counter of pattern % has no number left (at %)', p_pattern, taken
                USING ERRCODE = 'TSX01';
        END IF;
        INSERT INTO serial_numbers (serial, pattern, state, request_id, station, port, taken_at)
            VALUES (taken, p_pattern, 'reserved', p_request, p_station, p_port, now());
    END IF;
    INSERT INTO serial_reservations (request_id, serial, station, port, record_id, state,
                                     owner_host, owner_pid, owner_started, owner_token)
        VALUES (p_request, taken, p_station, p_port, p_record, 'reserved',
                p_owner_host, p_owner_pid, p_owner_started, p_owner_token);
    RETURN taken;
END $f$;

-- Ends a reservation: burned, released (the number may be handed out again)
-- or void (never again). Only a reservation still in flight changes; the
-- state it has afterwards is returned (null for an unknown request).
CREATE OR REPLACE FUNCTION tessell.settle_serial(p_request text, p_state text)
RETURNS text LANGUAGE plpgsql SECURITY DEFINER SET search_path = tessell, pg_temp AS $f$
DECLARE
    settled text;
    current text;
BEGIN
    IF p_state IS NULL OR p_state NOT IN ('burned', 'released', 'void') THEN
        RAISE EXCEPTION 'a reservation cannot end as %', p_state USING ERRCODE = 'TSX03';
    END IF;
    UPDATE serial_reservations SET state = p_state, ended_at = now()
        WHERE request_id = p_request AND state = 'reserved'
        RETURNING serial INTO settled;
    IF NOT FOUND THEN
        SELECT state INTO current FROM serial_reservations WHERE request_id = p_request;
        RETURN current;
    END IF;
    UPDATE serial_numbers SET state = p_state, ended_at = now()
        WHERE serial = settled AND request_id = p_request;
    RETURN p_state;
END $f$;

-- The reservations of p_station among p_requests (a JSON array of request
-- ids) still in flight end void: the processes that held them are gone.
-- Which processes are gone only the station's own computer can tell. The
-- numbers voided are returned.
CREATE OR REPLACE FUNCTION tessell.void_reservations(p_station text, p_requests jsonb)
RETURNS SETOF text LANGUAGE sql SECURITY DEFINER SET search_path = tessell, pg_temp AS $f$
    WITH voided AS (
        UPDATE serial_reservations SET state = 'void', ended_at = now()
            WHERE station = p_station AND state = 'reserved'
                  AND request_id IN (SELECT jsonb_array_elements_text(p_requests))
            RETURNING request_id, serial),
    numbers AS (
        UPDATE serial_numbers AS number SET state = 'void', ended_at = now()
            FROM voided
            WHERE number.serial = voided.serial AND number.request_id = voided.request_id
            RETURNING number.serial)
    SELECT serial FROM voided ORDER BY serial
$f$;

-- Adds one finished record; a record sent again is stored once.
CREATE OR REPLACE FUNCTION tessell.add_record(p_body jsonb)
RETURNS boolean LANGUAGE plpgsql SECURITY DEFINER SET search_path = tessell, pg_temp AS $f$
BEGIN
    IF coalesce(p_body->>'id', '') = '' OR coalesce(p_body->>'result', '') = '' THEN
        RAISE EXCEPTION 'a record needs its id and its result' USING ERRCODE = 'TSX04';
    END IF;
    INSERT INTO line_records (record_id, station, sequence, hub, port, serial_burned,
                              image_sha256, started, result, body)
        VALUES (p_body->>'id', p_body->>'station', (p_body->>'sequence')::bigint,
                coalesce(p_body->>'hub', ''), coalesce((p_body->>'port')::integer, 0),
                coalesce(p_body->>'serial_burned', ''), coalesce(p_body->>'image_sha256', ''),
                coalesce(p_body->>'started', ''), p_body->>'result', p_body)
        ON CONFLICT (record_id) DO NOTHING;
    RETURN FOUND;
END $f$;

REVOKE ALL ON SCHEMA tessell FROM PUBLIC;
GRANT USAGE ON SCHEMA tessell TO tessell_station;
REVOKE ALL ON ALL TABLES IN SCHEMA tessell FROM PUBLIC, tessell_station;
GRANT SELECT ON ALL TABLES IN SCHEMA tessell TO tessell_station;
REVOKE ALL ON ALL FUNCTIONS IN SCHEMA tessell FROM PUBLIC;
GRANT EXECUTE ON ALL FUNCTIONS IN SCHEMA tessell TO tessell_station;
)sql";

// Each version's changes, in order: kLineMigrations[n - 1] takes version n - 1 to n.
constexpr const char* kLineMigrations[] = {kVersion1, kVersion2, kVersion3};
static_assert(std::size(kLineMigrations) == kLineSchemaVersion);

} // namespace

std::optional<int> lineSchemaVersion(LineConnection& connection, std::string& problem) {
    const auto found = connection.exec("SELECT to_regclass('tessell.schema_version') IS NOT NULL");
    if (!found.ok) {
        problem = found.error;
        return std::nullopt;
    }
    if (found.text(0, 0) != "t")
        return 0;
    const auto version = connection.exec("SELECT max(version) FROM tessell.schema_version");
    if (!version.ok) {
        problem = version.error;
        return std::nullopt;
    }
    return parseWholeNumber<int>(version.text(0, 0)).value_or(0);
}

LineInitResult initLineSchema(LineConnection& connection) {
    LineInitResult result;
    result.toVersion = kLineSchemaVersion;
    const auto step = [&](const std::string& sql) {
        const auto answer = connection.exec(sql);
        if (!answer.ok && result.problem.empty())
            result.problem = answer.error;
        return answer.ok;
    };
    if (!step("BEGIN"))
        return result;
    const auto fail = [&] {
        connection.exec("ROLLBACK");
        return result;
    };
    if (!step(kInitLock) || !step("CREATE SCHEMA IF NOT EXISTS tessell") ||
        !step("CREATE TABLE IF NOT EXISTS tessell.schema_version (version integer NOT NULL)"))
        return fail();
    const std::optional<int> version = lineSchemaVersion(connection, result.problem);
    if (!version)
        return fail();
    result.fromVersion = *version;
    if (*version > kLineSchemaVersion) {
        result.problem = "the database holds schema version " + std::to_string(*version) +
                         ", newer than this tessell's " + std::to_string(kLineSchemaVersion) +
                         ": left untouched";
        return fail();
    }
    for (int next = *version + 1; next <= kLineSchemaVersion; ++next)
        if (!step(kLineMigrations[next - 1]))
            return fail();
    if (!step(kFunctions) || !step("DELETE FROM tessell.schema_version") ||
        !step("INSERT INTO tessell.schema_version VALUES (" + std::to_string(kLineSchemaVersion) +
              ")") ||
        !step("COMMIT"))
        return fail();
    result.ok = true;
    return result;
}

} // namespace tessell
