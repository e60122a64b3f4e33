-- PBKDF2-HMAC-SHA256 over pgcrypto's HMAC, in the format passwords::verify
-- reads, so that whoever writes TUSUARIOS (the server, an administrator's
-- psql) stores a hash and never the password as typed. %1 is the number of
-- iterations, passwords::kIterations.

CREATE OR REPLACE FUNCTION vorel_pbkdf2(p bytea, salt bytea, n integer) RETURNS bytea
LANGUAGE plpgsql IMMUTABLE STRICT SET search_path FROM CURRENT AS $vorel$
DECLARE
  u bytea;
  t bit(256);
  k bytea := decode(repeat('00', 32), 'hex');
BEGIN
  u := hmac(salt || '\x00000001'::bytea, p, 'sha256');
  t := ('x' || encode(u, 'hex'))::bit(256);
  FOR i IN 2..n LOOP
    u := hmac(u, p, 'sha256');
    t := t # ('x' || encode(u, 'hex'))::bit(256);
  END LOOP;
  FOR i IN 0..31 LOOP
    k := set_byte(k, i, substring(t FROM i * 8 + 1 FOR 8)::integer);
  END LOOP;
  RETURN k;
END $vorel$;

CREATE OR REPLACE FUNCTION vorel_password_hash(plain text) RETURNS text
LANGUAGE plpgsql VOLATILE STRICT SET search_path FROM CURRENT AS $vorel$
DECLARE
  salt bytea := gen_random_bytes(16);
BEGIN
  RETURN '$pbkdf2-sha256$' || %1 || '$' || rtrim(encode(salt, 'base64'), '=') || '$'
         || rtrim(encode(vorel_pbkdf2(convert_to(plain, 'UTF8'), salt, %1), 'base64'), '=');
END $vorel$;

-- A password shorter than the check allows stays as typed, so that the
-- check refuses it as it does on a database that hashes after checking.
CREATE OR REPLACE FUNCTION vorel_usuarios_paswd() RETURNS trigger
LANGUAGE plpgsql SET search_path FROM CURRENT AS $vorel$
BEGIN
  IF NEW.usua_paswd IS NOT NULL AND substr(NEW.usua_paswd, 1, 15) <> '$pbkdf2-sha256$'
     AND length(NEW.usua_paswd) >= 4 THEN
    NEW.usua_paswd := vorel_password_hash(NEW.usua_paswd);
  END IF;
  RETURN NEW;
END $vorel$;

