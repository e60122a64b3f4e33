-- Dates: formats, reading and writing; after ora_text.sql, whose
-- functions these call.

-- Oracle's elements of a date format as PostgreSQL's; any other letter is itself.
CREATE OR REPLACE FUNCTION public.ora_date_format(fmt text) RETURNS text LANGUAGE plpgsql IMMUTABLE AS $$
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
END $$;

-- A text read as a date in the stored forms, NULL when it is not one.
CREATE OR REPLACE FUNCTION public.ora_read_date(t text) RETURNS timestamp(0) LANGUAGE plpgsql IMMUTABLE AS $$
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
END $$;

CREATE OR REPLACE FUNCTION public.ora_to_char(x text) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT NULLIF($1, '') $$;

CREATE OR REPLACE FUNCTION public.ora_to_char(x double precision) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT public.ora_text($1) $$;

CREATE OR REPLACE FUNCTION public.ora_to_char(x bigint) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT $1::text $$;

CREATE OR REPLACE FUNCTION public.ora_to_char(x timestamp) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT public.ora_text($1) $$;

CREATE OR REPLACE FUNCTION public.ora_to_char(x timestamp, fmt text) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT NULLIF(pg_catalog.to_char($1, public.ora_date_format($2)), '') $$;

CREATE OR REPLACE FUNCTION public.ora_to_char(x double precision, fmt text) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT public.ora_text($1) $$;

CREATE OR REPLACE FUNCTION public.ora_to_char(x bigint, fmt text) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT $1::text $$;

CREATE OR REPLACE FUNCTION public.ora_to_char(x text, fmt text) RETURNS text LANGUAGE sql IMMUTABLE AS $$
  SELECT CASE WHEN $1 = '' THEN NULL
              WHEN public.ora_read_date($1) IS NOT NULL THEN public.ora_to_char(public.ora_read_date($1), $2)
              ELSE $1 END $$;

CREATE OR REPLACE FUNCTION public.ora_to_date(x text, fmt text DEFAULT 'DD/MM/YYYY') RETURNS timestamp(0) LANGUAGE plpgsql IMMUTABLE AS $$
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
END $$;

CREATE OR REPLACE FUNCTION public.ora_to_date(x timestamp, fmt text DEFAULT NULL) RETURNS timestamp(0) LANGUAGE sql IMMUTABLE AS $$ SELECT $1::timestamp(0) $$;
