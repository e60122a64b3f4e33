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

-- A number by an Oracle number format model, with Oracle's default
-- characters (D is ".", G is ","), "€" for L: 9 0 . , D G FM S MI PR L EEEE
-- X; too wide for its digits, all "#". The same algorithm as the SQLite
-- backend's formatNumber.
CREATE OR REPLACE FUNCTION public.ora_format_number(x double precision, fmt text) RETURNS text LANGUAGE plpgsql IMMUTABLE AS $$
DECLARE
  u text := pg_catalog.upper(fmt);
  n integer := pg_catalog.length(fmt);
  i integer := 1;
  c text;
  fm boolean := false; sfirst boolean := false; slast boolean := false; mi boolean := false; pr boolean := false;
  eeee boolean := false; hex boolean := false; lowerhex boolean := false; point boolean := false; seen boolean := false;
  curb text := ''; cura text := ''; ip text := ''; fp text := '';
  neg boolean; width integer; digits text; whole text; frac text; side text := ''; nxt integer; fz integer;
  p integer; keep integer; shown text; slots integer; r numeric; h text; e integer; m text; zeros integer;
  places integer;
BEGIN
  IF x IS NULL OR fmt IS NULL OR fmt = '' THEN RETURN NULL; END IF;
  WHILE i <= n LOOP
    c := pg_catalog.substr(u, i, 1);
    IF pg_catalog.substr(u, i, 2) = 'FM' AND NOT seen AND curb = '' THEN
      fm := true; i := i + 2;
    ELSIF c = 'S' AND NOT seen AND NOT sfirst AND curb = '' THEN
      sfirst := true; i := i + 1;
    ELSIF c = 'L' AND NOT seen AND curb = '' THEN
      curb := '€'; i := i + 1;
    ELSIF c IN ('9', '0') OR (c IN (',', 'G') AND seen) THEN
      IF eeee OR hex OR (point AND c IN (',', 'G')) THEN
        RAISE EXCEPTION 'ORA-01481: invalid number format model';
      END IF;
      IF c = 'G' THEN c := ','; END IF;
      IF point THEN fp := fp || c; ELSE ip := ip || c; END IF;
      seen := true; i := i + 1;
    ELSIF c IN ('.', 'D') AND NOT point AND NOT hex THEN
      point := true; seen := true; i := i + 1;
    ELSIF c = 'X' AND NOT point AND NOT eeee AND pg_catalog.strpos(ip, '9') = 0 AND pg_catalog.strpos(ip, ',') = 0 THEN
      hex := true; lowerhex := pg_catalog.substr(fmt, i, 1) = 'x'; ip := ip || 'X'; seen := true; i := i + 1;
    ELSIF pg_catalog.substr(u, i, 4) = 'EEEE' AND seen AND NOT eeee AND NOT hex THEN
      eeee := true; i := i + 4;
    ELSIF pg_catalog.substr(u, i, 2) = 'MI' AND i + 1 = n AND seen THEN
      mi := true; i := i + 2;
    ELSIF pg_catalog.substr(u, i, 2) = 'PR' AND i + 1 = n AND seen THEN
      pr := true; i := i + 2;
    ELSIF c = 'S' AND i = n AND seen AND NOT sfirst THEN
      slast := true; i := i + 1;
    ELSIF c = 'L' AND seen AND curb = '' AND cura = '' THEN
      cura := '€'; i := i + 1;
    ELSE
      RAISE EXCEPTION 'ORA-01481: invalid number format model';
    END IF;
  END LOOP;
  IF NOT seen OR (hex AND (sfirst OR slast OR mi OR pr OR curb <> '' OR cura <> ''))
     OR (eeee AND (pg_catalog.strpos(ip, ',') > 0 OR ip = '')) THEN
    RAISE EXCEPTION 'ORA-01481: invalid number format model';
  END IF;
  places := pg_catalog.length(fp);
  neg := x < 0 AND (eeee OR pg_catalog.round(x::numeric, places) <> 0);
  IF hex THEN
    width := pg_catalog.length(ip) + CASE WHEN fm THEN 0 ELSE 1 END;
    r := pg_catalog.round(x::numeric, 0);
    IF r < 0 OR r >= 9.2e18 THEN RETURN pg_catalog.repeat('#', width); END IF;
    h := pg_catalog.to_hex(r::bigint);
    IF NOT lowerhex THEN h := pg_catalog.upper(h); END IF;
    IF pg_catalog.strpos(ip, '0') > 0 THEN
      zeros := pg_catalog.length(ip) - pg_catalog.strpos(ip, '0') + 1;
      IF pg_catalog.length(h) < zeros THEN h := pg_catalog.repeat('0', zeros - pg_catalog.length(h)) || h; END IF;
    END IF;
    IF pg_catalog.length(h) > pg_catalog.length(ip) THEN RETURN pg_catalog.repeat('#', width); END IF;
    IF fm THEN RETURN h; END IF;
    RETURN pg_catalog.repeat(' ', width - pg_catalog.length(h)) || h;
  END IF;
  IF eeee THEN
    places := pg_catalog.length(fp);
    e := 0;
    IF x <> 0 THEN
      e := pg_catalog.floor(pg_catalog.log(pg_catalog.abs(x)))::integer;
      m := pg_catalog.round(pg_catalog.abs(x / pg_catalog.power(10::double precision, e))::numeric, places)::text;
      IF m LIKE '10%' THEN
        e := e + 1;
        m := pg_catalog.round(pg_catalog.abs(x / pg_catalog.power(10::double precision, e))::numeric, places)::text;
      END IF;
    ELSE
      m := pg_catalog.round(0::numeric, places)::text;
    END IF;
    IF NOT point THEN m := pg_catalog.substr(m, 1, 1); END IF;
    m := m || 'E' || CASE WHEN e < 0 THEN '-' ELSE '+' END
         || CASE WHEN pg_catalog.abs(e) < 10 THEN '0' ELSE '' END || pg_catalog.abs(e)::text;
    IF fm THEN RETURN CASE WHEN neg THEN '-' ELSE '' END || m; END IF;
    RETURN CASE WHEN neg THEN ' -' ELSE '  ' END || m;
  END IF;
  width := pg_catalog.length(ip) + CASE WHEN point THEN 1 + pg_catalog.length(fp) ELSE 0 END
           + pg_catalog.length(curb) + pg_catalog.length(cura) + CASE WHEN pr THEN 2 ELSE 1 END;
  digits := pg_catalog.round(pg_catalog.abs(x)::numeric, pg_catalog.length(fp))::text;
  IF pg_catalog.strpos(digits, '.') = 0 THEN
    whole := digits; frac := '';
  ELSE
    whole := pg_catalog.split_part(digits, '.', 1); frac := pg_catalog.split_part(digits, '.', 2);
  END IF;
  IF whole = '0' THEN whole := ''; END IF;
  slots := pg_catalog.length(ip) - pg_catalog.length(pg_catalog.replace(pg_catalog.replace(ip, '9', ''), '0', ''));
  IF pg_catalog.length(whole) > slots THEN RETURN pg_catalog.repeat('#', width); END IF;
  fz := pg_catalog.strpos(ip, '0');
  IF whole = '' AND fz = 0 AND (NOT point OR (fm AND frac !~ '[1-9]')) THEN whole := '0'; END IF;
  nxt := pg_catalog.length(whole);
  p := pg_catalog.length(ip);
  WHILE p >= 1 LOOP
    IF pg_catalog.substr(ip, p, 1) = ',' THEN
      IF nxt >= 1 OR (fz > 0 AND fz < p) THEN side := ',' || side; END IF;
    ELSIF nxt >= 1 THEN
      side := pg_catalog.substr(whole, nxt, 1) || side; nxt := nxt - 1;
    ELSIF fz > 0 AND p >= fz THEN
      side := '0' || side;
    END IF;
    p := p - 1;
  END LOOP;
  IF fm THEN
    keep := pg_catalog.length(frac);
    WHILE keep > 0 AND pg_catalog.substr(frac, keep, 1) = '0' AND pg_catalog.substr(fp, keep, 1) = '9' LOOP
      keep := keep - 1;
    END LOOP;
    frac := pg_catalog.substr(frac, 1, keep);
  END IF;
  shown := curb || side || CASE WHEN point THEN '.' || frac ELSE '' END || cura;
  IF sfirst THEN
    shown := CASE WHEN neg THEN '-' ELSE '+' END || shown;
  ELSIF slast THEN
    shown := shown || CASE WHEN neg THEN '-' ELSE '+' END;
  ELSIF mi THEN
    shown := shown || CASE WHEN neg THEN '-' WHEN fm THEN '' ELSE ' ' END;
  ELSIF pr THEN
    shown := CASE WHEN neg THEN '<' || shown || '>' WHEN fm THEN shown ELSE ' ' || shown || ' ' END;
  ELSIF neg THEN
    shown := '-' || shown;
  END IF;
  IF fm THEN RETURN shown; END IF;
  RETURN pg_catalog.repeat(' ', GREATEST(width - pg_catalog.length(shown), 0)) || shown;
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

CREATE OR REPLACE FUNCTION public.ora_to_char(x double precision, fmt text) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT public.ora_format_number($1, $2) $$;

CREATE OR REPLACE FUNCTION public.ora_to_char(x bigint, fmt text) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT public.ora_format_number($1::double precision, $2) $$;

CREATE OR REPLACE FUNCTION public.ora_to_char(x text, fmt text) RETURNS text LANGUAGE sql IMMUTABLE AS $$
  SELECT CASE WHEN $1 = '' THEN NULL
              WHEN public.ora_read_date($1) IS NOT NULL THEN public.ora_to_char(public.ora_read_date($1), $2)
              WHEN $2 IS NULL OR $2 = '' THEN NULL
              ELSE public.ora_format_number(pg_catalog.btrim($1)::double precision, $2) END $$;

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

-- x rounded half away from zero to n significant digits. The magnitude
-- comes from a double's logarithm: a numeric's costs a thousand times more,
-- and where the two disagree (x a hair below a power of ten) both roundings
-- give that power.
CREATE OR REPLACE FUNCTION public.ora_digits(x numeric, n integer) RETURNS numeric LANGUAGE sql IMMUTABLE AS $$
  SELECT CASE WHEN $1 = 0 THEN 0::numeric
              ELSE pg_catalog.trim_scale(pg_catalog.round($1, $2 - 1 - pg_catalog.floor(pg_catalog.log(pg_catalog.abs($1)::double precision))::integer)) END $$;

-- a / b in decimals, the quotient rounded to the 15 significant digits an
-- SQLite double holds, so that both databases cut a quotient to a whole
-- number alike. The dividend's 40 places keep the division's own rounding
-- below the one made here.
CREATE OR REPLACE FUNCTION public.ora_div(a numeric, b numeric) RETURNS numeric LANGUAGE sql IMMUTABLE AS $$
  SELECT public.ora_digits(pg_catalog.round($1, 40) / $2, 15) $$;

-- Whole numbers multiply into a wider type, which never overflows.
CREATE OR REPLACE FUNCTION public.ora_mul(a integer, b integer) RETURNS bigint LANGUAGE sql IMMUTABLE AS $$ SELECT $1::bigint * $2 $$;

CREATE OR REPLACE FUNCTION public.ora_mul(a bigint, b bigint) RETURNS numeric LANGUAGE sql IMMUTABLE AS $$ SELECT $1::numeric * $2 $$;

CREATE OR REPLACE FUNCTION public.ora_mul(a numeric, b numeric) RETURNS numeric LANGUAGE sql IMMUTABLE AS $$ SELECT $1 * $2 $$;

CREATE OR REPLACE FUNCTION public.ora_mul(a double precision, b double precision) RETURNS double precision LANGUAGE sql IMMUTABLE AS $$ SELECT ($1::text::numeric * $2::text::numeric)::double precision $$;

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

-- A NUMBER(p,s) column is a double here: + - * of doubles are computed on
-- their decimals (the shortest digits a double is written with; a cast to
-- numeric would keep 15) and held as the nearest double, as SQLite holds
-- them.
CREATE OR REPLACE FUNCTION public.ora_add(a double precision, b double precision) RETURNS double precision LANGUAGE sql IMMUTABLE AS $$ SELECT ($1::text::numeric + $2::text::numeric)::double precision $$;

CREATE OR REPLACE FUNCTION public.ora_add(a numeric, b numeric) RETURNS numeric LANGUAGE sql IMMUTABLE AS $$ SELECT $1 + $2 $$;

-- A text holding a date (or a number), as SQLite holds both.
CREATE OR REPLACE FUNCTION public.ora_add(t text, n double precision) RETURNS text LANGUAGE plpgsql IMMUTABLE AS $$
BEGIN
  IF t IS NULL OR t = '' OR n IS NULL THEN RETURN NULL; END IF;
  IF public.ora_read_date(t) IS NOT NULL THEN RETURN public.ora_text(public.ora_add(public.ora_read_date(t), n)); END IF;
  RETURN public.ora_text(public.ora_to_number(t)::double precision + n);
END $$;

-- `definition` (CREATE OR REPLACE FUNCTION) of a function that a database
-- made by an earlier server may hold with another result type. The type
-- changes only by dropping the function, which a view that calls it
-- prevents: there the earlier one stays.
CREATE OR REPLACE FUNCTION public.ora_retyped(signature text, result regtype, definition text) RETURNS void LANGUAGE plpgsql AS $$
BEGIN
  IF (SELECT prorettype FROM pg_catalog.pg_proc WHERE oid = pg_catalog.to_regprocedure(signature)) <> result THEN
    EXECUTE 'DROP FUNCTION ' || signature;
  END IF;
  EXECUTE definition;
EXCEPTION WHEN dependent_objects_still_exist THEN NULL;
END $$;

SELECT public.ora_retyped('public.ora_sub(timestamp,timestamp)', 'numeric', $f$CREATE OR REPLACE FUNCTION public.ora_sub(a timestamp, b timestamp) RETURNS numeric LANGUAGE sql IMMUTABLE AS $$
    SELECT public.ora_div(EXTRACT(EPOCH FROM $1 - $2), 86400) $$$f$);

CREATE OR REPLACE FUNCTION public.ora_sub(d timestamp, n double precision) RETURNS timestamp(0) LANGUAGE sql IMMUTABLE AS $$ SELECT public.ora_add($1, -$2) $$;

CREATE OR REPLACE FUNCTION public.ora_sub(n double precision, d timestamp) RETURNS double precision LANGUAGE plpgsql IMMUTABLE AS $$
BEGIN
  RAISE EXCEPTION 'ORA-00932: inconsistent datatypes: expected NUMBER got DATE';
END $$;

CREATE OR REPLACE FUNCTION public.ora_sub(a integer, b integer) RETURNS integer LANGUAGE sql IMMUTABLE AS $$ SELECT $1 - $2 $$;

CREATE OR REPLACE FUNCTION public.ora_sub(a bigint, b bigint) RETURNS bigint LANGUAGE sql IMMUTABLE AS $$ SELECT $1 - $2 $$;

CREATE OR REPLACE FUNCTION public.ora_sub(a double precision, b double precision) RETURNS double precision LANGUAGE sql IMMUTABLE AS $$ SELECT ($1::text::numeric - $2::text::numeric)::double precision $$;

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
SELECT public.ora_retyped('public.ora_months_between(timestamp,timestamp)', 'numeric', $f$CREATE OR REPLACE FUNCTION public.ora_months_between(a timestamp, b timestamp) RETURNS numeric LANGUAGE sql IMMUTABLE AS $$
  SELECT ((EXTRACT(YEAR FROM $1) - EXTRACT(YEAR FROM $2)) * 12
         + EXTRACT(MONTH FROM $1) - EXTRACT(MONTH FROM $2)
         + CASE WHEN EXTRACT(DAY FROM $1) = EXTRACT(DAY FROM $2)
                  OR ($1::pg_catalog.date = public.ora_last_day($1)::pg_catalog.date AND $2::pg_catalog.date = public.ora_last_day($2)::pg_catalog.date) THEN 0
                ELSE public.ora_div((EXTRACT(DAY FROM $1) - EXTRACT(DAY FROM $2)) * 86400
                                    + EXTRACT(EPOCH FROM $1 - pg_catalog.date_trunc('day', $1))
                                    - EXTRACT(EPOCH FROM $2 - pg_catalog.date_trunc('day', $2)), 31 * 86400) END) $$$f$);

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
