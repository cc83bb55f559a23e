-- Mail-server users of the mail-program tests; load after api/schema.sql.
INSERT INTO domains (id, name) VALUES
  (1, 'example.com'),
  (2, 'example.org');

INSERT INTO users (id, domain_id, state, hidden, name, mailboxes) VALUES
  (1, 1, 0, 0, 'John Smith', 'john'),
  (2, 1, 0, 0, 'Mary Johnson;Sales', 'mary'),   -- "john" in her name only
  (3, 1, 0, 0, 'Ann Lee', 'ann'),               -- never a "john" match
  (4, 2, 0, 0, 'Pat Kim;Support', 'pat.johns'); -- "john" inside his mail only
