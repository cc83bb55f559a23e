-- Mail database read by API.so (file mail.db in the program folder).
CREATE TABLE domains (
  id   INTEGER PRIMARY KEY,
  name TEXT NOT NULL UNIQUE
);

CREATE TABLE users (
  id        INTEGER PRIMARY KEY,
  domain_id INTEGER NOT NULL REFERENCES domains(id),
  state     INTEGER NOT NULL DEFAULT 0,  -- 0 or 1: active; 2 or more, or negative: disabled
  hidden    INTEGER NOT NULL DEFAULT 0,  -- non-zero: not published
  name      TEXT NOT NULL DEFAULT '',    -- "Name" or "Name;Comment"
  mailboxes TEXT NOT NULL DEFAULT ''     -- mailbox names without domain, "a;b;c"
);

CREATE INDEX users_domain ON users(domain_id, id);
