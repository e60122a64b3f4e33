-- Oracle's sequences: seq.NEXTVAL and seq.CURRVAL are calls of these. The
-- numbers are PostgreSQL's own sequences'; a CURRVAL is the session's, not
-- the connection's (currval()), as sessions share connections: it is kept
-- under the session's key, with the uses of the current row when a
-- statement names the sequence more than once (one number a row).
CREATE SCHEMA IF NOT EXISTS vorel_work;
REVOKE ALL ON SCHEMA vorel_work FROM PUBLIC;
CREATE TABLE IF NOT EXISTS vorel_work.sequence_values (vorel_key bigint NOT NULL, name text NOT NULL,
  value bigint NOT NULL, calls integer NOT NULL, PRIMARY KEY (vorel_key, name));

-- A sequence a schema script made: in the schema, owned by no column.
CREATE OR REPLACE FUNCTION public.ora_sequence_of(seq_name text) RETURNS regclass
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = pg_catalog AS $vorel$
DECLARE
  seq regclass := pg_catalog.to_regclass('public.' || pg_catalog.quote_ident(pg_catalog.lower(seq_name)));
BEGIN
  IF seq IS NULL OR NOT EXISTS (SELECT 1 FROM pg_catalog.pg_class WHERE oid = seq AND relkind = 'S')
     OR EXISTS (SELECT 1 FROM pg_catalog.pg_depend WHERE classid = 'pg_catalog.pg_class'::regclass
                AND objid = seq AND deptype IN ('a', 'i')) THEN
    RAISE EXCEPTION 'ORA-02289: sequence does not exist';
  END IF;
  RETURN seq;
END $vorel$;

CREATE OR REPLACE FUNCTION public.ora_nextval(seq_name text, uses integer DEFAULT 1) RETURNS bigint
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = pg_catalog AS $vorel$
DECLARE
  seq regclass := public.ora_sequence_of(seq_name);
  key bigint := coalesce(NULLIF(pg_catalog.current_setting('vorel.sesion', true), '')::bigint, 0);
  kept vorel_work.sequence_values%ROWTYPE;
  v bigint;
BEGIN
  IF uses > 1 THEN
    SELECT * INTO kept FROM vorel_work.sequence_values s WHERE s.vorel_key = key AND s.name = seq_name;
    IF FOUND AND kept.calls % uses <> 0 THEN
      UPDATE vorel_work.sequence_values s SET calls = (kept.calls + 1) % uses
        WHERE s.vorel_key = key AND s.name = seq_name;
      RETURN kept.value;
    END IF;
  END IF;
  BEGIN
    v := pg_catalog.nextval(seq);
  EXCEPTION WHEN sequence_generator_limit_exceeded THEN
    IF (SELECT seqincrement FROM pg_catalog.pg_sequence WHERE seqrelid = seq) > 0 THEN
      RAISE EXCEPTION 'ORA-08004: sequence %.NEXTVAL exceeds MAXVALUE and cannot be instantiated', seq_name;
    END IF;
    RAISE EXCEPTION 'ORA-08004: sequence %.NEXTVAL goes below MINVALUE and cannot be instantiated', seq_name;
  END;
  INSERT INTO vorel_work.sequence_values AS s VALUES (key, seq_name, v, CASE WHEN uses > 1 THEN 1 ELSE 0 END)
    ON CONFLICT (vorel_key, name) DO UPDATE SET value = EXCLUDED.value, calls = EXCLUDED.calls;
  RETURN v;
END $vorel$;

CREATE OR REPLACE FUNCTION public.ora_currval(seq_name text) RETURNS bigint
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = pg_catalog AS $vorel$
DECLARE
  key bigint := coalesce(NULLIF(pg_catalog.current_setting('vorel.sesion', true), '')::bigint, 0);
  v bigint;
BEGIN
  SELECT s.value INTO v FROM vorel_work.sequence_values s WHERE s.vorel_key = key AND s.name = seq_name;
  IF NOT FOUND THEN
    PERFORM public.ora_sequence_of(seq_name);
    RAISE EXCEPTION 'ORA-08002: sequence %.CURRVAL is not yet defined in this session', seq_name;
  END IF;
  RETURN v;
END $vorel$;

-- Kept in a table, the session's CURRVALs would go back with its
-- transaction, where Oracle's stay: the server reads them before a
-- rollback and writes them again after it.
CREATE OR REPLACE FUNCTION public.vorel_sequences_kept() RETURNS text
LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog AS $vorel$
  SELECT pg_catalog.jsonb_object_agg(s.name, s.value)::text FROM vorel_work.sequence_values s
   WHERE s.vorel_key = coalesce(NULLIF(pg_catalog.current_setting('vorel.sesion', true), '')::bigint, 0)
$vorel$;

CREATE OR REPLACE FUNCTION public.vorel_sequences_restore(kept text) RETURNS void
LANGUAGE sql VOLATILE SECURITY DEFINER SET search_path = pg_catalog AS $vorel$
  INSERT INTO vorel_work.sequence_values AS s
  SELECT coalesce(NULLIF(pg_catalog.current_setting('vorel.sesion', true), '')::bigint, 0), e.key, e.value::bigint, 0
    FROM pg_catalog.jsonb_each_text(kept::jsonb) e
  ON CONFLICT (vorel_key, name) DO UPDATE SET value = EXCLUDED.value, calls = 0
$vorel$;
