-- Numbers; after ora_text.sql and ora_dates.sql, whose functions these call.

CREATE OR REPLACE FUNCTION public.ora_to_number(x text) RETURNS numeric LANGUAGE plpgsql IMMUTABLE AS $$
BEGIN
  IF x IS NULL OR x = '' THEN RETURN NULL; END IF;
  RETURN pg_catalog.trim_scale(pg_catalog.btrim(x)::double precision::numeric);
EXCEPTION WHEN invalid_text_representation THEN
  RAISE EXCEPTION 'ORA-01722: invalid number' USING ERRCODE = '22018';
END $$;

-- TO_NUMBER(text, fmt): the text as the format writes a number (the
-- SQLite backend's readNumber).
CREATE OR REPLACE FUNCTION public.ora_to_number(x text, fmt text) RETURNS numeric LANGUAGE plpgsql IMMUTABLE AS $$
DECLARE
  t text := pg_catalog.btrim(x);
  neg boolean := false;
  v bigint;
BEGIN
  IF x IS NULL OR x = '' THEN RETURN NULL; END IF;
  PERFORM public.ora_format_number(0, fmt); -- the format's own check
  IF pg_catalog.strpos(pg_catalog.upper(fmt), 'X') > 0 THEN
    IF t !~ '^[0-9A-Fa-f]{1,16}$' THEN
      RAISE EXCEPTION 'ORA-01722: invalid number' USING ERRCODE = '22018';
    END IF;
    v := ('x' || pg_catalog.lpad(t, 16, '0'))::bit(64)::bigint;
    IF v < 0 THEN
      RAISE EXCEPTION 'ORA-01722: invalid number' USING ERRCODE = '22018';
    END IF;
    RETURN v;
  END IF;
  IF t LIKE '<%>' THEN
    neg := true;
    t := pg_catalog.btrim(pg_catalog.substr(t, 2, pg_catalog.length(t) - 2));
  ELSIF t LIKE '%-' OR t LIKE '%+' THEN
    neg := t LIKE '%-';
    t := pg_catalog.substr(t, 1, pg_catalog.length(t) - 1);
  END IF;
  IF NOT neg AND (t LIKE '-%' OR t LIKE '+%') THEN
    neg := t LIKE '-%';
    t := pg_catalog.substr(t, 2);
  END IF;
  t := pg_catalog.replace(pg_catalog.replace(t, '€', ''), ',', '');
  IF t !~ '^([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?$' THEN
    RAISE EXCEPTION 'ORA-01722: invalid number' USING ERRCODE = '22018';
  END IF;
  RETURN pg_catalog.trim_scale((CASE WHEN neg THEN -1 ELSE 1 END) * t::double precision::numeric);
END $$;

CREATE OR REPLACE FUNCTION public.ora_to_number(x double precision, fmt text) RETURNS numeric LANGUAGE sql IMMUTABLE AS $$ SELECT pg_catalog.trim_scale($1::numeric) $$;

CREATE OR REPLACE FUNCTION public.ora_to_number(x numeric, fmt text) RETURNS numeric LANGUAGE sql IMMUTABLE AS $$ SELECT pg_catalog.trim_scale($1) $$;

CREATE OR REPLACE FUNCTION public.ora_to_number(x double precision) RETURNS numeric LANGUAGE sql IMMUTABLE AS $$ SELECT pg_catalog.trim_scale($1::numeric) $$;

CREATE OR REPLACE FUNCTION public.ora_to_number(x numeric) RETURNS numeric LANGUAGE sql IMMUTABLE AS $$ SELECT pg_catalog.trim_scale($1) $$;

CREATE OR REPLACE FUNCTION public.ora_trunc(x timestamp) RETURNS timestamp(0) LANGUAGE sql IMMUTABLE AS $$ SELECT pg_catalog.date_trunc('day', $1)::timestamp(0) $$;

CREATE OR REPLACE FUNCTION public.ora_trunc(x double precision, places integer DEFAULT 0) RETURNS numeric LANGUAGE sql IMMUTABLE AS $$
  SELECT CASE WHEN $2 <= 0 THEN pg_catalog.trunc($1::numeric, $2)::bigint::numeric ELSE pg_catalog.trim_scale(pg_catalog.trunc($1::numeric, $2)) END $$;

CREATE OR REPLACE FUNCTION public.ora_trunc(x text, places integer DEFAULT 0) RETURNS text LANGUAGE plpgsql IMMUTABLE AS $$
DECLARE
  d timestamp(0) := public.ora_read_date(x);
BEGIN
  IF x IS NULL OR x = '' THEN RETURN NULL; END IF;
  IF d IS NOT NULL THEN RETURN public.ora_text(pg_catalog.date_trunc('day', d)::timestamp(0)); END IF;
  RETURN public.ora_trunc(public.ora_to_number(x)::double precision, places)::text;
END $$;

CREATE OR REPLACE FUNCTION public.ora_mod(x bigint, y bigint) RETURNS bigint LANGUAGE sql IMMUTABLE AS $$
  SELECT CASE WHEN $2 = 0 THEN $1 ELSE pg_catalog.mod($1, $2) END $$;

-- On the decimal digits of both (the shortest a double is written with), as
-- Oracle's numbers are decimal: MOD(-7, 0.29) is -0.04, where the binary
-- remainder is not; the sign is the dividend's.
CREATE OR REPLACE FUNCTION public.ora_mod(x double precision, y double precision) RETURNS double precision LANGUAGE sql IMMUTABLE AS $$
  SELECT CASE WHEN $2 = 0 THEN $1
              ELSE pg_catalog.mod($1::text::numeric, $2::text::numeric)::double precision END $$;

-- POWER: a whole exponent (up to 100) multiplies the base that often,
-- exactly, where PostgreSQL's own keeps 16 decimal places of a small power;
-- any other exponent as PostgreSQL computes it.
CREATE OR REPLACE FUNCTION public.ora_power(x numeric, n numeric) RETURNS numeric LANGUAGE plpgsql IMMUTABLE STRICT AS $$
DECLARE
  r numeric := 1;
BEGIN
  IF n <> pg_catalog.trunc(n) OR pg_catalog.abs(n) > 100 THEN RETURN pg_catalog.power(x, n); END IF;
  FOR k IN 1 .. pg_catalog.abs(n)::integer LOOP r := r * x; END LOOP;
  IF n < 0 THEN RETURN public.ora_div(1, r); END IF;
  RETURN r;
END $$;

CREATE OR REPLACE FUNCTION public.ora_power(x double precision, n double precision) RETURNS double precision LANGUAGE sql IMMUTABLE AS $$
  SELECT public.ora_power($1::text::numeric, $2::text::numeric)::double precision $$;

-- Whole numbers take the exact one (without these, the double one).
CREATE OR REPLACE FUNCTION public.ora_power(x integer, n integer) RETURNS numeric LANGUAGE sql IMMUTABLE AS $$
  SELECT public.ora_power($1::numeric, $2::numeric) $$;

CREATE OR REPLACE FUNCTION public.ora_power(x bigint, n bigint) RETURNS numeric LANGUAGE sql IMMUTABLE AS $$
  SELECT public.ora_power($1::numeric, $2::numeric) $$;

-- TRUNC and ROUND of a number to decimal places, on its decimal digits.
CREATE OR REPLACE FUNCTION public.ora_round(x double precision, places integer DEFAULT 0) RETURNS numeric LANGUAGE sql IMMUTABLE AS $$
  SELECT pg_catalog.trim_scale(pg_catalog.round($1::numeric, GREATEST(LEAST($2, 400), -400))) $$;

CREATE OR REPLACE FUNCTION public.ora_round(x text, fmt text DEFAULT NULL) RETURNS text LANGUAGE plpgsql IMMUTABLE AS $$
DECLARE
  d timestamp(0) := public.ora_read_date(x);
BEGIN
  IF x IS NULL OR x = '' THEN RETURN NULL; END IF;
  IF d IS NOT NULL THEN RETURN public.ora_text(public.ora_round(d, COALESCE(fmt, 'DD'))); END IF;
  RETURN public.ora_text(public.ora_round(public.ora_to_number(x)::double precision, COALESCE(public.ora_to_number(fmt), 0)::integer));
END $$;

CREATE OR REPLACE FUNCTION public.ora_trunc(x text, fmt text) RETURNS text LANGUAGE plpgsql IMMUTABLE AS $$
DECLARE
  d timestamp(0) := public.ora_read_date(x);
BEGIN
  IF x IS NULL OR x = '' OR fmt IS NULL OR fmt = '' THEN RETURN NULL; END IF;
  IF d IS NOT NULL THEN RETURN public.ora_text(public.ora_trunc(d, fmt)); END IF;
  RETURN public.ora_trunc(x, public.ora_to_number(fmt)::integer);
END $$;

-- NVL: both arguments are evaluated, as Oracle evaluates them (COALESCE
-- would not evaluate the second where the first is not NULL, and so miss
-- its error); the array makes them of one type as COALESCE would.
CREATE OR REPLACE FUNCTION public.ora_nvl(VARIADIC xs anycompatiblearray) RETURNS anycompatible LANGUAGE sql IMMUTABLE AS $$
  SELECT COALESCE($1[1], $1[2]) $$;

-- GREATEST and LEAST: NULL if any is.
CREATE OR REPLACE FUNCTION public.ora_greatest(VARIADIC xs anycompatiblearray) RETURNS anycompatible LANGUAGE sql IMMUTABLE AS $$
  SELECT CASE WHEN pg_catalog.array_position($1, NULL) IS NULL THEN (SELECT pg_catalog.max(v) FROM pg_catalog.unnest($1) v) END $$;

CREATE OR REPLACE FUNCTION public.ora_least(VARIADIC xs anycompatiblearray) RETURNS anycompatible LANGUAGE sql IMMUTABLE AS $$
  SELECT CASE WHEN pg_catalog.array_position($1, NULL) IS NULL THEN (SELECT pg_catalog.min(v) FROM pg_catalog.unnest($1) v) END $$;

-- A hierarchical query's guard: a row met again above itself is a loop.
CREATE OR REPLACE FUNCTION public.ora_no_loop(n bigint) RETURNS integer LANGUAGE plpgsql IMMUTABLE AS $$
BEGIN
  IF n > 0 THEN
    RAISE EXCEPTION 'ORA-01436: CONNECT BY loop in user data';
  END IF;
  RETURN 0;
END $$;
