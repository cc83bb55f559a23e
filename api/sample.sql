-- Sample mail users for the demo; load after schema.sql.
INSERT INTO domains (id, name) VALUES
  (1, 'example.com'),
  (2, 'example.org');

INSERT INTO users (id, domain_id, state, hidden, name, mailboxes) VALUES
  (1, 1, 0, 0, 'Ann Lee', 'ann'),                                -- plain user
  (2, 1, 1, 0, 'Front Desk;Reception', 'desk;info'),             -- two mailboxes, comment
  (3, 1, 2, 0, 'Carl Gone;left in March', 'carl'),               -- disabled
  (4, 1, 0, 1, 'Postmaster;system account', 'postmaster'),       -- hidden
  (5, 1, 0, 0, 'Dana Smith;Sales', 'dana;d.smith;sales'),        -- three mailboxes
  (6, 2, 0, 0, 'Bob Leeds', 'bob'),
  (7, 2, 0, 0, 'Eve Park;Support', 'eve;support'),
  (8, 2, 0, 0, 'No Mailbox', ''),                                -- no mailbox: not published
  (9, 2, 0, 0, 'Ravi Patel;Logistics', 'ravi;fleet');            -- "lee" in a mail only
