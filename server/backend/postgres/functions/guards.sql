-- The dictionary registry follows the catalog; only refreshRegistry,
-- with vorel.registry set for its transaction, writes it.
CREATE OR REPLACE FUNCTION vorel_registry_guard() RETURNS trigger
LANGUAGE plpgsql AS $vorel$
BEGIN
  IF coalesce(current_setting('vorel.registry', true), '') <> 'on' THEN
    RAISE EXCEPTION 'ORA-01031: insufficient privileges';
  END IF;
  RETURN NULL;
END $vorel$;

-- The session tables of the schema are the templates of each session's
-- TEMP tables, which hide them; rows written here would be every session's.
CREATE OR REPLACE FUNCTION vorel_session_guard() RETURNS trigger
LANGUAGE plpgsql AS $vorel$
BEGIN
  RAISE EXCEPTION 'ORA-00942: table or view does not exist (%: la sesión no tiene sus tablas de trabajo)',
    upper(TG_TABLE_NAME);
END $vorel$;
