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

-- A date written by an Oracle format: numbers, and names in Spanish (the
-- language the server's sessions speak, NLS_DATE_LANGUAGE SPANISH), in
-- capitals, with a capital first or in small letters as the element is
-- written; names padded to the longest and numbers to their width until FM
-- turns that off. A "quoted" text and anything that is no element are
-- written as they are.
CREATE OR REPLACE FUNCTION public.ora_format_date(d timestamp, fmt text) RETURNS text LANGUAGE plpgsql IMMUTABLE AS $$
DECLARE
  months text[] := ARRAY['enero', 'febrero', 'marzo', 'abril', 'mayo', 'junio', 'julio', 'agosto', 'septiembre', 'octubre', 'noviembre', 'diciembre'];
  months_short text[] := ARRAY['ene', 'feb', 'mar', 'abr', 'may', 'jun', 'jul', 'ago', 'sep', 'oct', 'nov', 'dic'];
  days text[] := ARRAY['lunes', 'martes', 'miércoles', 'jueves', 'viernes', 'sábado', 'domingo'];
  days_short text[] := ARRAY['lun', 'mar', 'mié', 'jue', 'vie', 'sáb', 'dom'];
  els text[] := ARRAY['YYYY', 'YYY', 'YY', 'MONTH', 'MON', 'MM', 'MI', 'DAY', 'DDD', 'DD', 'DY', 'D', 'HH24', 'HH12', 'HH', 'SS', 'AM', 'PM', 'IW', 'WW', 'Q', 'Y'];
  up text := pg_catalog.upper(fmt);
  y integer := pg_catalog.date_part('year', d)::integer;
  mo integer := pg_catalog.date_part('month', d)::integer;
  dow integer := pg_catalog.date_part('isodow', d)::integer;
  doy integer := pg_catalog.date_part('doy', d)::integer;
  h integer := pg_catalog.date_part('hour', d)::integer;
  fill boolean := true;
  out text := '';
  i integer := 1;
  n integer := pg_catalog.length(fmt);
  el text;
  hit boolean;
  v bigint;
  w integer;
  t text;
  e integer;
BEGIN
  IF d IS NULL OR fmt IS NULL THEN RETURN NULL; END IF;
  WHILE i <= n LOOP
    IF pg_catalog.substr(fmt, i, 1) = '"' THEN
      e := pg_catalog.strpos(pg_catalog.substr(fmt, i + 1), '"');
      IF e = 0 THEN e := n - i + 1; END IF;
      out := out || pg_catalog.substr(fmt, i + 1, e - 1);
      i := i + e + 1;
      CONTINUE;
    END IF;
    IF pg_catalog.substr(up, i, 2) = 'FM' THEN
      fill := NOT fill;
      i := i + 2;
      CONTINUE;
    END IF;
    hit := false;
    FOREACH el IN ARRAY els LOOP
      IF pg_catalog.substr(up, i, pg_catalog.length(el)) = el THEN
        hit := true;
        t := NULL;
        v := NULL;
        CASE el
          WHEN 'YYYY' THEN v := y; w := 4;
          WHEN 'YYY' THEN v := y % 1000; w := 3;
          WHEN 'YY' THEN v := y % 100; w := 2;
          WHEN 'Y' THEN v := y % 10; w := 1;
          WHEN 'MONTH' THEN t := months[mo]; w := 10;
          WHEN 'MON' THEN t := months_short[mo]; w := 3;
          WHEN 'MM' THEN v := mo; w := 2;
          WHEN 'MI' THEN v := pg_catalog.date_part('minute', d)::integer; w := 2;
          WHEN 'DAY' THEN t := days[dow]; w := 9;
          WHEN 'DDD' THEN v := doy; w := 3;
          WHEN 'DD' THEN v := pg_catalog.date_part('day', d)::integer; w := 2;
          WHEN 'DY' THEN t := days_short[dow]; w := 3;
          WHEN 'D' THEN v := dow; w := 1;
          WHEN 'HH24' THEN v := h; w := 2;
          WHEN 'SS' THEN v := pg_catalog.date_part('second', d)::integer; w := 2;
          WHEN 'AM', 'PM' THEN out := out || CASE WHEN h < 12 THEN 'AM' ELSE 'PM' END;
          WHEN 'IW' THEN v := pg_catalog.date_part('week', d)::integer; w := 2;
          WHEN 'WW' THEN v := (doy - 1) / 7 + 1; w := 2;
          WHEN 'Q' THEN v := (mo - 1) / 3 + 1; w := 1;
          ELSE v := CASE WHEN h % 12 = 0 THEN 12 ELSE h % 12 END; w := 2; -- HH, HH12
        END CASE;
        IF v IS NOT NULL THEN
          out := out || CASE WHEN fill THEN pg_catalog.lpad(v::text, w, '0') ELSE v::text END;
        ELSIF t IS NOT NULL THEN
          IF pg_catalog.substr(fmt, i, 1) ~ '[[:upper:]]' AND pg_catalog.substr(fmt, i + 1, 1) ~ '[[:upper:]]' THEN
            t := pg_catalog.upper(t);
          ELSIF pg_catalog.substr(fmt, i, 1) ~ '[[:upper:]]' THEN
            t := pg_catalog.upper(pg_catalog.substr(t, 1, 1)) || pg_catalog.substr(t, 2);
          END IF;
          out := out || CASE WHEN fill THEN pg_catalog.rpad(t, w) ELSE t END;
        END IF;
        i := i + pg_catalog.length(el);
        EXIT;
      END IF;
    END LOOP;
    IF NOT hit THEN
      out := out || pg_catalog.substr(fmt, i, 1);
      i := i + 1;
    END IF;
  END LOOP;
  RETURN NULLIF(out, '');
END $$;

CREATE OR REPLACE FUNCTION public.ora_to_char(x timestamp, fmt text) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT public.ora_format_date($1, $2) $$;

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

-- Oracle's dates run from year 1 to 9999 here.
CREATE OR REPLACE FUNCTION public.ora_checked_date(d timestamp) RETURNS timestamp(0) LANGUAGE plpgsql IMMUTABLE AS $$
BEGIN
  IF d IS NOT NULL AND (d < TIMESTAMP '0001-01-01 00:00:00' OR d >= TIMESTAMP '10000-01-01 00:00:00') THEN
    RAISE EXCEPTION 'ORA-01841: (full) year must be between -4713 and +9999, and not be 0';
  END IF;
  RETURN d;
END $$;

-- + and - where a date may stand: days (a fraction of one to the nearest
-- second) onto a date, a date minus a date in days.
CREATE OR REPLACE FUNCTION public.ora_add(d timestamp, n double precision) RETURNS timestamp(0) LANGUAGE plpgsql IMMUTABLE AS $$
BEGIN
  IF d IS NULL OR n IS NULL THEN RETURN NULL; END IF;
  IF n = 'NaN'::float8 OR pg_catalog.abs(n) > 4e6 THEN
    RAISE EXCEPTION 'ORA-01841: (full) year must be between -4713 and +9999, and not be 0';
  END IF;
  RETURN public.ora_checked_date(d + pg_catalog.round((n * 86400)::numeric) * INTERVAL '1 second');
END $$;

CREATE OR REPLACE FUNCTION public.ora_add(n double precision, d timestamp) RETURNS timestamp(0) LANGUAGE sql IMMUTABLE AS $$ SELECT public.ora_add($2, $1) $$;

CREATE OR REPLACE FUNCTION public.ora_add(a timestamp, b timestamp) RETURNS timestamp(0) LANGUAGE plpgsql IMMUTABLE AS $$
BEGIN
  RAISE EXCEPTION 'ORA-00975: date + date not allowed';
END $$;

-- Whole numbers stay of their type, as the engine's own + keeps them (a
-- recursive WITH needs the same type in both its terms).
CREATE OR REPLACE FUNCTION public.ora_add(a integer, b integer) RETURNS integer LANGUAGE sql IMMUTABLE AS $$ SELECT $1 + $2 $$;

CREATE OR REPLACE FUNCTION public.ora_add(a bigint, b bigint) RETURNS bigint LANGUAGE sql IMMUTABLE AS $$ SELECT $1 + $2 $$;

CREATE OR REPLACE FUNCTION public.ora_add(a double precision, b double precision) RETURNS double precision LANGUAGE sql IMMUTABLE AS $$ SELECT $1 + $2 $$;

CREATE OR REPLACE FUNCTION public.ora_add(a numeric, b numeric) RETURNS numeric LANGUAGE sql IMMUTABLE AS $$ SELECT $1 + $2 $$;

-- A text holding a date (or a number), as SQLite holds both.
CREATE OR REPLACE FUNCTION public.ora_add(t text, n double precision) RETURNS text LANGUAGE plpgsql IMMUTABLE AS $$
BEGIN
  IF t IS NULL OR t = '' OR n IS NULL THEN RETURN NULL; END IF;
  IF public.ora_read_date(t) IS NOT NULL THEN RETURN public.ora_text(public.ora_add(public.ora_read_date(t), n)); END IF;
  RETURN public.ora_text(public.ora_to_number(t)::double precision + n);
END $$;

CREATE OR REPLACE FUNCTION public.ora_sub(a timestamp, b timestamp) RETURNS double precision LANGUAGE sql IMMUTABLE AS $$
  SELECT pg_catalog.date_part('epoch', $1 - $2) / 86400 $$;

CREATE OR REPLACE FUNCTION public.ora_sub(d timestamp, n double precision) RETURNS timestamp(0) LANGUAGE sql IMMUTABLE AS $$ SELECT public.ora_add($1, -$2) $$;

CREATE OR REPLACE FUNCTION public.ora_sub(n double precision, d timestamp) RETURNS double precision LANGUAGE plpgsql IMMUTABLE AS $$
BEGIN
  RAISE EXCEPTION 'ORA-00932: inconsistent datatypes: expected NUMBER got DATE';
END $$;

CREATE OR REPLACE FUNCTION public.ora_sub(a integer, b integer) RETURNS integer LANGUAGE sql IMMUTABLE AS $$ SELECT $1 - $2 $$;

CREATE OR REPLACE FUNCTION public.ora_sub(a bigint, b bigint) RETURNS bigint LANGUAGE sql IMMUTABLE AS $$ SELECT $1 - $2 $$;

CREATE OR REPLACE FUNCTION public.ora_sub(a double precision, b double precision) RETURNS double precision LANGUAGE sql IMMUTABLE AS $$ SELECT $1 - $2 $$;

CREATE OR REPLACE FUNCTION public.ora_sub(a numeric, b numeric) RETURNS numeric LANGUAGE sql IMMUTABLE AS $$ SELECT $1 - $2 $$;

CREATE OR REPLACE FUNCTION public.ora_sub(t text, n double precision) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT public.ora_add($1, -$2) $$;

-- The start of the unit of a date format a date falls in; `rounding`, the
-- start of the next from the unit's middle on (July 1 for a year, the 16th
-- for a month and for the second month of a quarter, noon for a day, half a
-- week for a week). DAY, DY and D start the week on Monday, as in Spain.
CREATE OR REPLACE FUNCTION public.ora_date_start(d timestamp, fmt text, rounding boolean) RETURNS timestamp(0) LANGUAGE plpgsql IMMUTABLE AS $$
DECLARE
  f text := pg_catalog.upper(pg_catalog.btrim(fmt));
  y integer := pg_catalog.date_part('year', d)::integer;
  m integer := pg_catalog.date_part('month', d)::integer;
  dd integer := pg_catalog.date_part('day', d)::integer;
  secs integer := pg_catalog.date_part('epoch', d - pg_catalog.date_trunc('day', d))::integer;
  q integer;
  s timestamp;
BEGIN
  IF d IS NULL OR fmt IS NULL OR fmt = '' THEN RETURN NULL; END IF;
  IF f IN ('SYYYY', 'YYYY', 'YEAR', 'SYEAR', 'YYY', 'YY', 'Y') THEN
    s := pg_catalog.make_date(y + CASE WHEN rounding AND m >= 7 THEN 1 ELSE 0 END, 1, 1);
  ELSIF f = 'Q' THEN
    q := (m - 1) / 3 * 3 + 1;
    s := pg_catalog.make_date(y, q, 1);
    IF rounding AND (m > q + 1 OR (m = q + 1 AND dd >= 16)) THEN s := s + INTERVAL '3 months'; END IF;
  ELSIF f IN ('MONTH', 'MON', 'MM', 'RM') THEN
    s := pg_catalog.make_date(y, m, 1);
    IF rounding AND dd >= 16 THEN s := s + INTERVAL '1 month'; END IF;
  ELSIF f IN ('WW', 'IW', 'W', 'DAY', 'DY', 'D') THEN
    s := pg_catalog.date_trunc('day', d) - INTERVAL '1 day' * CASE
           WHEN f = 'WW' THEN (pg_catalog.date_part('doy', d)::integer - 1) % 7
           WHEN f = 'W' THEN (dd - 1) % 7
           ELSE pg_catalog.date_part('isodow', d)::integer - 1 END;
    IF rounding AND d - s >= INTERVAL '84 hours' THEN s := s + INTERVAL '7 days'; END IF;
  ELSIF f IN ('DDD', 'DD', 'J') THEN
    s := pg_catalog.date_trunc('day', d) + CASE WHEN rounding AND secs >= 43200 THEN INTERVAL '1 day' ELSE INTERVAL '0' END;
  ELSIF f IN ('HH', 'HH12', 'HH24') THEN
    s := pg_catalog.date_trunc('hour', d) + CASE WHEN rounding AND secs % 3600 >= 1800 THEN INTERVAL '1 hour' ELSE INTERVAL '0' END;
  ELSIF f = 'MI' THEN
    s := pg_catalog.date_trunc('minute', d) + CASE WHEN rounding AND secs % 60 >= 30 THEN INTERVAL '1 minute' ELSE INTERVAL '0' END;
  ELSE
    RAISE EXCEPTION 'ORA-01821: date format not recognized';
  END IF;
  RETURN public.ora_checked_date(s);
END $$;

CREATE OR REPLACE FUNCTION public.ora_trunc(x timestamp, fmt text) RETURNS timestamp(0) LANGUAGE sql IMMUTABLE AS $$ SELECT public.ora_date_start($1, $2, false) $$;

CREATE OR REPLACE FUNCTION public.ora_round(x timestamp, fmt text DEFAULT 'DD') RETURNS timestamp(0) LANGUAGE sql IMMUTABLE AS $$ SELECT public.ora_date_start($1, $2, true) $$;

-- ADD_MONTHS: the same day so many months on; the last day of a month, or
-- a day the month lacks, gives the last day of that month.
CREATE OR REPLACE FUNCTION public.ora_add_months(d timestamp, n double precision) RETURNS timestamp(0) LANGUAGE plpgsql IMMUTABLE AS $$
DECLARE
  first pg_catalog.date;
  last_day integer;
  day integer := pg_catalog.date_part('day', d)::integer;
BEGIN
  IF d IS NULL OR n IS NULL THEN RETURN NULL; END IF;
  IF pg_catalog.abs(n) > 120000 THEN
    RAISE EXCEPTION 'ORA-01841: (full) year must be between -4713 and +9999, and not be 0';
  END IF;
  first := (pg_catalog.date_trunc('month', d) + INTERVAL '1 month' * pg_catalog.trunc(n)::integer)::pg_catalog.date;
  last_day := pg_catalog.date_part('day', first + INTERVAL '1 month' - INTERVAL '1 day')::integer;
  IF d::pg_catalog.date = (pg_catalog.date_trunc('month', d) + INTERVAL '1 month' - INTERVAL '1 day')::pg_catalog.date OR day > last_day THEN
    day := last_day;
  END IF;
  RETURN public.ora_checked_date(first + (day - 1) + (d - pg_catalog.date_trunc('day', d)));
END $$;

CREATE OR REPLACE FUNCTION public.ora_last_day(d timestamp) RETURNS timestamp(0) LANGUAGE sql IMMUTABLE AS $$
  SELECT pg_catalog.date_trunc('month', $1) + INTERVAL '1 month' - INTERVAL '1 day' + ($1 - pg_catalog.date_trunc('day', $1)) $$;

-- MONTHS_BETWEEN: whole months when both days are the same or both the
-- last of their months; otherwise the rest counted in months of 31 days,
-- times of day included.
CREATE OR REPLACE FUNCTION public.ora_months_between(a timestamp, b timestamp) RETURNS double precision LANGUAGE sql IMMUTABLE AS $$
  SELECT (pg_catalog.date_part('year', $1) - pg_catalog.date_part('year', $2)) * 12
         + pg_catalog.date_part('month', $1) - pg_catalog.date_part('month', $2)
         + CASE WHEN pg_catalog.date_part('day', $1) = pg_catalog.date_part('day', $2)
                  OR ($1::pg_catalog.date = public.ora_last_day($1)::pg_catalog.date AND $2::pg_catalog.date = public.ora_last_day($2)::pg_catalog.date) THEN 0
                ELSE (pg_catalog.date_part('day', $1) - pg_catalog.date_part('day', $2)) / 31
                     + (pg_catalog.date_part('epoch', $1 - pg_catalog.date_trunc('day', $1))
                        - pg_catalog.date_part('epoch', $2 - pg_catalog.date_trunc('day', $2))) / (31 * 86400) END $$;

-- A day of the week by its name in Spanish or English, whole or its first
-- three letters, capitals or not, accents or not: 1 Monday .. 7 Sunday.
CREATE OR REPLACE FUNCTION public.ora_weekday(name text) RETURNS integer LANGUAGE plpgsql IMMUTABLE AS $$
DECLARE
  n text := pg_catalog.translate(pg_catalog.upper(pg_catalog.btrim(name)), 'ÉÁ', 'EA');
  es text[] := ARRAY['LUNES', 'MARTES', 'MIERCOLES', 'JUEVES', 'VIERNES', 'SABADO', 'DOMINGO'];
  en text[] := ARRAY['MONDAY', 'TUESDAY', 'WEDNESDAY', 'THURSDAY', 'FRIDAY', 'SATURDAY', 'SUNDAY'];
BEGIN
  FOR i IN 1 .. 7 LOOP
    IF n IN (es[i], en[i]) OR (pg_catalog.length(n) = 3 AND n IN (pg_catalog.substr(es[i], 1, 3), pg_catalog.substr(en[i], 1, 3))) THEN
      RETURN i;
    END IF;
  END LOOP;
  RAISE EXCEPTION 'ORA-01846: not a valid day of the week';
END $$;

CREATE OR REPLACE FUNCTION public.ora_next_day(d timestamp, name text) RETURNS timestamp(0) LANGUAGE sql IMMUTABLE AS $$
  SELECT public.ora_checked_date($1 + INTERVAL '1 day' * CASE (public.ora_weekday($2) - pg_catalog.date_part('isodow', $1)::integer + 7) % 7
                                                      WHEN 0 THEN 7 ELSE (public.ora_weekday($2) - pg_catalog.date_part('isodow', $1)::integer + 7) % 7 END) $$;

-- EXTRACT(field FROM date), the field passed as its name.
CREATE OR REPLACE FUNCTION public.ora_extract(field text, d timestamp) RETURNS integer LANGUAGE plpgsql IMMUTABLE AS $$
BEGIN
  IF d IS NULL THEN RETURN NULL; END IF;
  IF pg_catalog.upper(field) NOT IN ('YEAR', 'MONTH', 'DAY', 'HOUR', 'MINUTE', 'SECOND') THEN
    RAISE EXCEPTION 'ORA-00905: missing keyword';
  END IF;
  RETURN pg_catalog.date_part(pg_catalog.lower(field), d)::integer;
END $$;
