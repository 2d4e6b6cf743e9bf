-- zolv's SQL functions. Loaded by CREATE EXTENSION zolv, never by psql -f.
\echo Use "CREATE EXTENSION zolv" to load this file. \quit

-- 1 when pattern matches the whole of text byte for byte: dialect 0 is
-- Access ("*", "?", "[...]"), 1 is ODBC ("%", "_", no escape character).
CREATE FUNCTION zolv_match(pattern bytea, text bytea, dialect integer)
  RETURNS boolean
  AS 'MODULE_PATHNAME', 'zolv_match'
  LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;

-- The query's pattern for raw LIKE ... ESCAPE '' (options: variant=raw|alphabet,
-- dialect=access|odbc, length=N, dictionary=PATH, query=smiles|smarts).
-- It depends on the dictionary file, so it is only stable.
CREATE FUNCTION zolv_pattern(query text, options text)
  RETURNS bytea
  AS 'MODULE_PATHNAME', 'zolv_pattern'
  LANGUAGE C STABLE STRICT PARALLEL SAFE;

CREATE FUNCTION zolv_pattern(query text, options text, notation text)
  RETURNS bytea
  AS 'MODULE_PATHNAME', 'zolv_pattern'
  LANGUAGE C STABLE STRICT PARALLEL SAFE;

-- A molecule's stored text, as zolv index writes it (options: variant,
-- length, dictionary).
CREATE FUNCTION zolv_text(smiles text, options text)
  RETURNS bytea
  AS 'MODULE_PATHNAME', 'zolv_text'
  LANGUAGE C STABLE STRICT PARALLEL SAFE;

-- Whether the molecule holds the query (RDKit's substructure match); NULL
-- when the SMILES cannot be read.
CREATE FUNCTION zolv_contains(smiles text, query text)
  RETURNS boolean
  AS 'MODULE_PATHNAME', 'zolv_contains'
  LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;

CREATE FUNCTION zolv_contains(smiles text, query text, notation text)
  RETURNS boolean
  AS 'MODULE_PATHNAME', 'zolv_contains'
  LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;
