// The Oracle functions the PostgreSQL text calls. Their results are those of
// the SQLite functions of dialect_functions.cpp for the same values: Oracle
// has no empty text, so '' reads as NULL and no function gives one. The
// built-in functions they use are named with their schema, since sessions
// put orafce's namesakes before pg_catalog.
#include "server/sql/dialect.h"

namespace vorel::server {

QStringList postgresFunctions()
{
    return {
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_text(x text) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT $1 $$)SQL"),
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_text(x bigint) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT $1::text $$)SQL"),
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_text(x double precision) RETURNS text LANGUAGE plpgsql IMMUTABLE AS $$
DECLARE
  e integer;
  m numeric;
  t text;
BEGIN
  IF x IS NULL THEN RETURN NULL; END IF;
  IF x = 'NaN'::float8 THEN RETURN 'nan'; END IF;
  IF x = 'Infinity'::float8 THEN RETURN 'inf'; END IF;
  IF x = '-Infinity'::float8 THEN RETURN '-inf'; END IF;
  IF x = pg_catalog.trunc(x) AND pg_catalog.abs(x) < 1e15 THEN RETURN pg_catalog.trunc(x)::bigint::text; END IF;
  m := x::numeric;
  e := pg_catalog.floor(pg_catalog.log(pg_catalog.abs(m)));
  m := pg_catalog.round(m, 14 - e);
  IF pg_catalog.abs(m) >= pg_catalog.power(10::numeric, e + 1) THEN e := e + 1; END IF;
  IF e < -4 OR e >= 15 THEN
    t := pg_catalog.trim_scale(pg_catalog.round(m / pg_catalog.power(10::numeric, e), 14))::text;
    t := t || 'e' || CASE WHEN e < 0 THEN '-' ELSE '+' END || pg_catalog.lpad(pg_catalog.abs(e)::text, 2, '0');
  ELSE
    t := pg_catalog.trim_scale(m)::text;
  END IF;
  IF t LIKE '0.%' THEN t := pg_catalog.substr(t, 2);
  ELSIF t LIKE '-0.%' THEN t := '-' || pg_catalog.substr(t, 3);
  END IF;
  RETURN t;
END $$)SQL"),
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_text(x numeric) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT public.ora_text($1::double precision) $$)SQL"),
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_text(x timestamp) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT pg_catalog.to_char($1, 'YYYY-MM-DD HH24:MI:SS') $$)SQL"),
        // CURRENT_TIMESTAMP and the like: the session's local time.
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_text(x timestamp with time zone) RETURNS text LANGUAGE sql STABLE AS $$ SELECT pg_catalog.to_char($1::timestamp(0), 'YYYY-MM-DD HH24:MI:SS') $$)SQL"),
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_concat(VARIADIC parts text[]) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT NULLIF(pg_catalog.array_to_string($1, ''), '') $$)SQL"),
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_sign(x double precision) RETURNS integer LANGUAGE sql IMMUTABLE AS $$ SELECT pg_catalog.sign($1)::integer $$)SQL"),
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_sign(x text) RETURNS integer LANGUAGE plpgsql IMMUTABLE AS $$
BEGIN
  RETURN pg_catalog.sign(pg_catalog.btrim(x)::double precision)::integer;
EXCEPTION WHEN invalid_text_representation THEN
  RAISE EXCEPTION 'ORA-01722: invalid number' USING ERRCODE = '22018';
END $$)SQL"),
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_substr(s text, pos double precision, len double precision) RETURNS text LANGUAGE plpgsql IMMUTABLE AS $$
DECLARE
  p bigint;
  n bigint;
BEGIN
  IF s IS NULL OR s = '' OR pos IS NULL OR len IS NULL THEN RETURN NULL; END IF;
  -- clamped as SQLite reads a number as a 64-bit integer
  p := pg_catalog.trunc(GREATEST(LEAST(pos, 9e18), -9e18))::bigint;
  IF p = 0 THEN p := 1; END IF;
  IF p < 0 THEN p := pg_catalog.length(s) + p + 1; END IF;
  IF p < 1 OR p > pg_catalog.length(s) THEN RETURN NULL; END IF;
  IF len >= 9e18 THEN n := pg_catalog.length(s); ELSE n := pg_catalog.floor(GREATEST(len, -9e18))::bigint; END IF;
  IF n < 1 THEN RETURN NULL; END IF;
  RETURN NULLIF(pg_catalog.substr(s, p::integer, least(n, pg_catalog.length(s))::integer), '');
END $$)SQL"),
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_substr(s text, pos double precision) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT public.ora_substr($1, $2, 1e18::double precision) $$)SQL"),
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_length(s text) RETURNS integer LANGUAGE sql IMMUTABLE AS $$ SELECT NULLIF(pg_catalog.length($1), 0) $$)SQL"),
        // Oracle's elements of a date format as PostgreSQL's; any other letter is itself.
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_date_format(fmt text) RETURNS text LANGUAGE plpgsql IMMUTABLE AS $$
DECLARE
  up text := pg_catalog.upper(fmt);
  out text := '';
  i integer := 1;
  c text;
  hit boolean;
  el text;
  els text[] := ARRAY['YYYY', 'YY', 'MM', 'DD', 'HH24', 'HH', 'MI', 'SS'];
  pg text[] := ARRAY['YYYY', 'YY', 'MM', 'DD', 'HH24', 'HH12', 'MI', 'SS'];
BEGIN
  IF fmt IS NULL THEN RETURN NULL; END IF;
  WHILE i <= pg_catalog.length(fmt) LOOP
    hit := false;
    FOR k IN 1 .. array_length(els, 1) LOOP
      el := els[k];
      IF pg_catalog.substr(up, i, pg_catalog.length(el)) = el THEN
        out := out || pg[k];
        i := i + pg_catalog.length(el);
        hit := true;
        EXIT;
      END IF;
    END LOOP;
    IF NOT hit THEN
      c := pg_catalog.substr(fmt, i, 1);
      IF c ~ '[[:alpha:]]' OR c = '"' OR c = '\' THEN
        out := out || '"' || CASE WHEN c = '"' THEN '\"' WHEN c = '\' THEN '\\' ELSE c END || '"';
      ELSE
        out := out || c;
      END IF;
      i := i + 1;
    END IF;
  END LOOP;
  RETURN out;
END $$)SQL"),
        // A text read as a date in the stored forms, NULL when it is not one.
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_read_date(t text) RETURNS timestamp(0) LANGUAGE plpgsql IMMUTABLE AS $$
DECLARE
  s text := pg_catalog.substr(t, 1, 19);
BEGIN
  IF s ~ '^\d{4}-\d{2}-\d{2}([ T]\d{2}:\d{2}(:\d{2})?)?$' THEN
    BEGIN
      RETURN s::timestamp(0);
    EXCEPTION WHEN OTHERS THEN
      RETURN NULL;
    END;
  END IF;
  RETURN NULL;
END $$)SQL"),
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_to_char(x text) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT NULLIF($1, '') $$)SQL"),
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_to_char(x double precision) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT public.ora_text($1) $$)SQL"),
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_to_char(x bigint) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT $1::text $$)SQL"),
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_to_char(x timestamp) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT public.ora_text($1) $$)SQL"),
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_to_char(x timestamp, fmt text) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT NULLIF(pg_catalog.to_char($1, public.ora_date_format($2)), '') $$)SQL"),
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_to_char(x double precision, fmt text) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT public.ora_text($1) $$)SQL"),
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_to_char(x bigint, fmt text) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT $1::text $$)SQL"),
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_to_char(x text, fmt text) RETURNS text LANGUAGE sql IMMUTABLE AS $$
  SELECT CASE WHEN $1 = '' THEN NULL
              WHEN public.ora_read_date($1) IS NOT NULL THEN public.ora_to_char(public.ora_read_date($1), $2)
              ELSE $1 END $$)SQL"),
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_to_date(x text, fmt text DEFAULT 'DD/MM/YYYY') RETURNS timestamp(0) LANGUAGE plpgsql IMMUTABLE AS $$
DECLARE
  t text := pg_catalog.btrim(x);
  d timestamp(0);
BEGIN
  IF t IS NULL OR t = '' THEN RETURN NULL; END IF;
  BEGIN
    d := pg_catalog.to_timestamp(t, public.ora_date_format(fmt))::timestamp(0);
    IF pg_catalog.to_char(d, public.ora_date_format(fmt)) = t THEN RETURN d; END IF;
  EXCEPTION WHEN OTHERS THEN
    NULL;
  END;
  d := public.ora_read_date(t);
  IF d IS NULL THEN
    RAISE EXCEPTION 'ORA-01858: a non-numeric character was found where a numeric was expected' USING ERRCODE = '22007';
  END IF;
  RETURN d;
END $$)SQL"),
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_to_date(x timestamp, fmt text DEFAULT NULL) RETURNS timestamp(0) LANGUAGE sql IMMUTABLE AS $$ SELECT $1::timestamp(0) $$)SQL"),
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_to_number(x text) RETURNS numeric LANGUAGE plpgsql IMMUTABLE AS $$
BEGIN
  IF x IS NULL OR x = '' THEN RETURN NULL; END IF;
  RETURN pg_catalog.trim_scale(pg_catalog.btrim(x)::double precision::numeric);
EXCEPTION WHEN invalid_text_representation THEN
  RAISE EXCEPTION 'ORA-01722: invalid number' USING ERRCODE = '22018';
END $$)SQL"),
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_to_number(x double precision) RETURNS numeric LANGUAGE sql IMMUTABLE AS $$ SELECT pg_catalog.trim_scale($1::numeric) $$)SQL"),
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_to_number(x numeric) RETURNS numeric LANGUAGE sql IMMUTABLE AS $$ SELECT pg_catalog.trim_scale($1) $$)SQL"),
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_trunc(x timestamp) RETURNS timestamp(0) LANGUAGE sql IMMUTABLE AS $$ SELECT pg_catalog.date_trunc('day', $1)::timestamp(0) $$)SQL"),
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_trunc(x double precision, places integer DEFAULT 0) RETURNS numeric LANGUAGE sql IMMUTABLE AS $$
  SELECT CASE WHEN $2 <= 0 THEN pg_catalog.trunc($1::numeric, $2)::bigint::numeric ELSE pg_catalog.trim_scale(pg_catalog.trunc($1::numeric, $2)) END $$)SQL"),
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_trunc(x text, places integer DEFAULT 0) RETURNS text LANGUAGE plpgsql IMMUTABLE AS $$
DECLARE
  d timestamp(0) := public.ora_read_date(x);
BEGIN
  IF x IS NULL OR x = '' THEN RETURN NULL; END IF;
  IF d IS NOT NULL THEN RETURN public.ora_text(pg_catalog.date_trunc('day', d)::timestamp(0)); END IF;
  RETURN public.ora_trunc(public.ora_to_number(x)::double precision, places)::text;
END $$)SQL"),
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_mod(x bigint, y bigint) RETURNS bigint LANGUAGE sql IMMUTABLE AS $$
  SELECT CASE WHEN $2 = 0 THEN $1 ELSE pg_catalog.mod($1, $2) END $$)SQL"),
        QStringLiteral(R"SQL(CREATE OR REPLACE FUNCTION public.ora_mod(x double precision, y double precision) RETURNS double precision LANGUAGE sql IMMUTABLE AS $$
  SELECT CASE WHEN $2 = 0 THEN $1 ELSE $1 - $2 * pg_catalog.trunc($1 / $2) END $$)SQL"),
    };
}

} // namespace vorel::server
