-- The Oracle functions the PostgreSQL text calls, in the order they must
-- run: this file, ora_dates.sql, then ora_numbers.sql. Their results are
-- those of the SQLite functions of backend/sqlite/sqlitedialect.cpp for the
-- same values: Oracle has no empty text, so '' reads as NULL and no function
-- gives one. The built-in functions they use are named with their schema,
-- since sessions put orafce's namesakes before pg_catalog. They go into the
-- public schema; orafce is not needed by them.

CREATE OR REPLACE FUNCTION public.ora_text(x text) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT $1 $$;

CREATE OR REPLACE FUNCTION public.ora_text(x bigint) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT $1::text $$;

CREATE OR REPLACE FUNCTION public.ora_text(x double precision) RETURNS text LANGUAGE plpgsql IMMUTABLE AS $$
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
  -- A whole number in full, as Oracle writes it, to the 15 digits read.
  IF x = pg_catalog.trunc(x) AND pg_catalog.abs(x) < 1e38 THEN RETURN pg_catalog.trunc(m)::text; END IF;
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
END $$;

-- A whole numeric an SQLite integer could hold is written exactly, as
-- SQLite writes its integers; the rest as the double it reads as.
CREATE OR REPLACE FUNCTION public.ora_text(x numeric) RETURNS text LANGUAGE sql IMMUTABLE AS $$
  SELECT CASE WHEN $1 = pg_catalog.trunc($1) AND pg_catalog.abs($1) <= 9223372036854775807 THEN pg_catalog.trunc($1)::text
              ELSE public.ora_text($1::double precision) END $$;

CREATE OR REPLACE FUNCTION public.ora_text(x timestamp) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT pg_catalog.to_char($1, 'YYYY-MM-DD HH24:MI:SS') $$;

-- CURRENT_TIMESTAMP and the like: the session's local time.
CREATE OR REPLACE FUNCTION public.ora_text(x timestamp with time zone) RETURNS text LANGUAGE sql STABLE AS $$ SELECT pg_catalog.to_char($1::timestamp(0), 'YYYY-MM-DD HH24:MI:SS') $$;

CREATE OR REPLACE FUNCTION public.ora_concat(VARIADIC parts text[]) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT NULLIF(pg_catalog.array_to_string($1, ''), '') $$;

CREATE OR REPLACE FUNCTION public.ora_sign(x double precision) RETURNS integer LANGUAGE sql IMMUTABLE AS $$ SELECT pg_catalog.sign($1)::integer $$;

CREATE OR REPLACE FUNCTION public.ora_sign(x text) RETURNS integer LANGUAGE plpgsql IMMUTABLE AS $$
BEGIN
  RETURN pg_catalog.sign(pg_catalog.btrim(x)::double precision)::integer;
EXCEPTION WHEN invalid_text_representation THEN
  RAISE EXCEPTION 'ORA-01722: invalid number' USING ERRCODE = '22018';
END $$;

CREATE OR REPLACE FUNCTION public.ora_substr(s text, pos double precision, len double precision) RETURNS text LANGUAGE plpgsql IMMUTABLE AS $$
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
END $$;

CREATE OR REPLACE FUNCTION public.ora_substr(s text, pos double precision) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT public.ora_substr($1, $2, 1e18::double precision) $$;

CREATE OR REPLACE FUNCTION public.ora_length(s text) RETURNS integer LANGUAGE sql IMMUTABLE AS $$ SELECT NULLIF(pg_catalog.length($1), 0) $$;

-- LPAD and RPAD: the text made n characters long, cut or filled.
CREATE OR REPLACE FUNCTION public.ora_lpad(s text, n double precision, fill text DEFAULT ' ') RETURNS text LANGUAGE sql IMMUTABLE AS $$
  SELECT NULLIF(pg_catalog.lpad($1, GREATEST(LEAST(pg_catalog.trunc($2), 1e9), 0)::integer, $3), '') $$;

CREATE OR REPLACE FUNCTION public.ora_rpad(s text, n double precision, fill text DEFAULT ' ') RETURNS text LANGUAGE sql IMMUTABLE AS $$
  SELECT NULLIF(pg_catalog.rpad($1, GREATEST(LEAST(pg_catalog.trunc($2), 1e9), 0)::integer, $3), '') $$;

-- INSTR: where the occurrence-th sub begins, looking forward from start,
-- or backward from the end when start is negative; 0 if nowhere.
CREATE OR REPLACE FUNCTION public.ora_instr(s text, sub text, start double precision DEFAULT 1, occurrence double precision DEFAULT 1) RETURNS integer LANGUAGE plpgsql IMMUTABLE AS $$
DECLARE
  p integer;
  n integer;
  len integer := pg_catalog.length(s);
  sublen integer := pg_catalog.length(sub);
  at integer;
BEGIN
  IF s IS NULL OR s = '' OR sub IS NULL OR sub = '' OR start IS NULL OR occurrence IS NULL THEN RETURN NULL; END IF;
  p := pg_catalog.trunc(GREATEST(LEAST(start, 1e9), -1e9))::integer;
  n := pg_catalog.trunc(GREATEST(LEAST(occurrence, 1e9), -1e9))::integer;
  IF n < 1 THEN RAISE EXCEPTION 'ORA-01428: argument is out of range'; END IF;
  IF p > 0 THEN
    at := p;
    LOOP
      IF at > len THEN RETURN 0; END IF;
      p := pg_catalog.strpos(pg_catalog.substr(s, at), sub);
      IF p = 0 THEN RETURN 0; END IF;
      at := at + p - 1;
      n := n - 1;
      IF n = 0 THEN RETURN at; END IF;
      at := at + 1;
    END LOOP;
  ELSIF p < 0 AND -p <= len THEN
    at := len + p + 1; -- the last place a match may begin
    WHILE at >= 1 LOOP
      IF pg_catalog.substr(s, at, sublen) = sub THEN
        n := n - 1;
        IF n = 0 THEN RETURN at; END IF;
      END IF;
      at := at - 1;
    END LOOP;
  END IF;
  RETURN 0;
END $$;

CREATE OR REPLACE FUNCTION public.ora_initcap(s text) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT NULLIF(pg_catalog.initcap($1), '') $$;

CREATE OR REPLACE FUNCTION public.ora_translate(s text, a text, b text) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT NULLIF(pg_catalog.translate($1, $2, $3), '') $$;

-- REPLACE: without a replacement the text found goes; a NULL search leaves
-- the text as it is.
CREATE OR REPLACE FUNCTION public.ora_replace(s text, search text, replacement text DEFAULT NULL) RETURNS text LANGUAGE sql IMMUTABLE AS $$
  SELECT CASE WHEN $1 IS NULL OR $1 = '' THEN NULL
              WHEN $2 IS NULL OR $2 = '' THEN $1
              ELSE NULLIF(pg_catalog.replace($1, $2, COALESCE($3, '')), '') END $$;

CREATE OR REPLACE FUNCTION public.ora_ltrim(s text, chars text DEFAULT ' ') RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT NULLIF(pg_catalog.ltrim($1, $2), '') $$;

CREATE OR REPLACE FUNCTION public.ora_rtrim(s text, chars text DEFAULT ' ') RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT NULLIF(pg_catalog.rtrim($1, $2), '') $$;
